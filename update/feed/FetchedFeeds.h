// A feed document fetched by a screen just before its channel was created
// (the add-channels wizard checks the address first), kept for the channel's
// first update so that the server is not asked again for the same body.
#pragma once

#include <memory>
#include <string>

#include "platform/base/Types.h"
#include "update/tidy/TidyDocument.h"

namespace FetchedFeeds {

// How long a kept document counts as fresh.
constexpr plat::DWORD kFreshMs = 5 * 60 * 1000;

// Keeps the parsed body fetched from the address, in place of any kept before.
void Keep(const std::u16string& address, std::unique_ptr<Tidy::Document> document);
// The document kept for exactly this address while it is fresh; it is
// handed out once. Null otherwise.
std::unique_ptr<Tidy::Document> Take(const std::u16string& address);
// Whether a fresh document is kept for exactly this address (nothing is
// taken): its channel's update needs no download.
bool Holds(const std::u16string& address);
// Drops what is kept.
void Clear();

}  // namespace FetchedFeeds
