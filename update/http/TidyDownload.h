// Downloading documents into a Tidy::Document over the HTTP layer, and the
// anonymous channel-rating ping.
#pragma once

#include <cstdint>
#include <string>

#include "update/tidy/TidyDocument.h"

class CInetJob;
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
// A server's validators of a body: its ETag and Last-Modified.
struct Validators {
  std::u16string etag;
  std::u16string lastModified;
};

// As DownloadDocument; digest (when given) receives the digest of the body
// and its encodings. With unchanged given and digest holding the digest of an
// earlier body, a body with the same digest is not parsed: the answer is 1,
// *unchanged is set and the document stays empty. validators (when given)
// holds those of the earlier body, sent with the request; a 304 answer is
// the same as an unchanged body (1, *unchanged set, the validators left as
// they are); after any other successful answer they are the answer's, empty
// when another address answered (a redirect). A body that may be a part (its
// length unchecked: the connection's close ended it; or a document that ends
// inside its root) is parsed, but digest and validators come back empty.
int DownloadChangedDocument(CInetSession* session, const std::u16string& address, Document* document,
                            const std::u16string& forcedEncoding, std::u16string* errorText,
                            std::u16string* digest, bool* unchanged, Validators* validators = nullptr);

// Sets a job up as DownloadChangedDocument sets up its download of a
// document (body kept in memory, the deadline, the validators when given),
// so that a job made ahead asks exactly what the download will ask.
void PrepareDocumentJob(CInetJob& job, const Validators* validators);

// Bytes delivered to documents by DownloadDocument since the process started.
std::uint32_t GetDownloadedTotal();

// The rating address up to and including "pingrss.php?url=", built from the
// product key's "RatingServer" (the server's base address); empty while that
// value is empty or missing, which it is unless someone sets it.
std::u16string GetRatingServerAddress();
// Stores the server's base address (e.g. "http://host/"); empty turns pings off.
void SetRatingServerAddress(const std::u16string& serverBase);

// When the HTTP layer accepts the feed address as a URL (in its normal form),
// requests the rating address followed by the percent-encoded feed address.
// Returns the request's result; 0, sending nothing, for an address that is no
// URL or while no rating server is set.
int SendRatingPing(const std::u16string& feedAddress, CInetSession* session);

}  // namespace Tidy
