// The properties a channel template gives the plug-in channel made from it,
// under the names they are stored by with the channel: the template's two
// scripts, its type (a template of type "RSS" reads its address as a feed)
// and its address.
#pragma once

inline constexpr char16_t kPropParseChannel[] = u"parse_channel";
inline constexpr char16_t kPropParseArticle[] = u"parse_article";
inline constexpr char16_t kPropTemplateType[] = u"channel#type";
inline constexpr char16_t kPropTemplateUrl[] = u"url";
