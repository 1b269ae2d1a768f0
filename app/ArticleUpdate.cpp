// Kept apart from the article view: the update engine's connection headers
// and the viewer's imaging headers do not meet in one source.
#include "app/ArticleView.h"
#include "update/UpdateManager.h"

void QueueArticleUpdate(IArticle* article) { CUpdateManager::GetInstance()->UpdateArticle(article); }
