// Downloading documents into a Tidy::Document over the HTTP layer, and the
// anonymous channel-rating ping.
#pragma once

#include <cstdint>
#include <string>

#include "update/TidyDocument.h"

class CInetSession;

namespace Tidy {

// Downloads the address with one HTTP job of the session and, when a document
// is given, parses the body (the response's charset as transport encoding)
// and makes its addresses absolute against the address. Returns the job's
// result (1 success, 0 failure, 2 cancelled, 3 not found), or 0 when the
// parse did not run; on failure the job's error text goes to errorText when
// given. Without a document only the request is made.
int DownloadDocument(CInetSession* session, const std::u16string& address, Document* document,
                     const std::u16string& forcedEncoding, std::u16string* errorText);

// Bytes delivered to documents by DownloadDocument since the process started.
std::uint32_t GetDownloadedTotal();

// The rating server's address up to and including "pingrss.php?url=".
std::u16string GetRatingServerAddress();
// Points the ping elsewhere (a test server).
void SetRatingServerAddress(const std::u16string& address);

// When the HTTP layer accepts the feed address as a URL (in its normal form),
// requests the rating address followed by the percent-encoded feed address.
// Returns the request's result, 0 for an address that is no URL.
int SendRatingPing(const std::u16string& feedAddress, CInetSession* session);

}  // namespace Tidy
