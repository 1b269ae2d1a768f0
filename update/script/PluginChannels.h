// Plug-in channels: channels described by a channel template, an XML file
// that names one or more channels and carries, for the template and for each
// channel, properties and the scripts "parse_channel" and "parse_article"
// that the script jobs run (ChannelJob.h).
//
// A plug-in channel address is scheme "://" template "?name=" channel name.
// Scheme "http" downloads the template from "http://" + template; scheme
// "file" reads the template from the device path template. The address is the
// channel's "@url"; script channels have "@type" "@Ridudo", feeds "@RSS".
//
// Template format:
//   <?xml version="1.0"?>
//   <template>
//     <P>text</P>                      template property P (texts of one name
//                                      are joined without separator)
//     <channel a="v">                  a channel; its attributes become
//       <name>Channel name</name>      "channel#a" = "v"
//       <P>text</P>                    channel property P
//     </channel>
//   </template>
// "url" (the site; gives "thumbnail" its icon address when the template has
// none), "thumbnail", "parse_channel" and "parse_article" are read by the
// system; every other property is carried into the channel unchanged.
#pragma once

#include <string>

#include "core/StringMaps.h"

class CInetSession;
class IChannel;
namespace Tidy {
class Document;
class Node;
}  // namespace Tidy

class CPluginChannels {
 public:
  // Results of LoadTemplate.
  enum LoadResult { kTemplateLoaded = 0, kTemplateFailed = 1, kTemplateNotFound = 2 };

  static CPluginChannels& GetInstance();

  // scheme + "://" + templatePart + "?name=" + name.
  static std::u16string BuildChannelAddress(const std::u16string& scheme, const std::u16string& templatePart,
                                            const std::u16string& name);
  // True when the address holds "://" and, after it, "?name=" followed by a
  // name that is not empty once trimmed of white space. The template part is
  // what lies between the first "://" and the first "?name=" after it.
  static bool SplitChannelAddress(const std::u16string& address, std::u16string& scheme,
                                  std::u16string& templatePart, std::u16string& name);
  // The channel name of the address, or empty.
  static std::u16string GetChannelName(const std::u16string& address);
  // The channel's "@url", or empty (also for no channel).
  static std::u16string GetChannelUrl(IChannel* channel);
  // The address an http template is fetched from: "http://" + template part,
  // with the parameter "ping=1" added ("?" or "&" as the address needs) when
  // the user allows anonymous reporting ("RSSReportingAllowed").
  static std::u16string GetTemplateDownloadAddress(const std::u16string& scheme, const std::u16string& templatePart);

  // Lists the channels of a local template file: for each channel element of
  // the template in document order, its name (plain text, untrimmed) and the
  // address BuildChannelAddress("file", path, name). Both lists are emptied
  // first and stay empty for a missing or unreadable file. False then.
  bool EnumTemplateChannels(const std::u16string& templatePath, CStringList& addresses, CStringList& names);

  // Adds a channel of that name to the channel set with "@url" = address
  // (a script channel's address gets "?name=" + name when it has none) and
  // "@type" "@RSS" (feed) or "@Ridudo" (script); queues it for update when
  // "StartUpdateForAddedChannels" is on. Null when name or address is empty
  // or the set refuses the name.
  IChannel* CreateChannel(const std::u16string& name, const std::u16string& address, bool isFeed);

  // Loads the template of a plug-in channel address and fills properties
  // with the template's properties and those of the addressed channel.
  // kTemplateLoaded, kTemplateFailed (empty or malformed address, other
  // scheme, download or parse failure) or kTemplateNotFound (HTTP not found,
  // or no such file). properties is changed only when the template loaded.
  int LoadTemplate(const std::u16string& address, CStringToStringMap& properties, CInetSession* session);

  // Writes the template properties over the channel's properties and stores
  // them. A channel's own "thumbnail" is kept. With scripts, a script the
  // template no longer has ("parse_article", "parse_channel") is removed.
  void ApplyTemplateProperties(IChannel* channel, const CStringToStringMap& templateProperties, bool scripts);

  // Reads the properties of the template and of the named channel from a
  // parsed template document (what LoadTemplate does once the document is
  // parsed). The map is emptied first.
  static void ReadTemplate(Tidy::Document* document, const std::u16string& channelName,
                           CStringToStringMap& properties);
  // The template element of a parsed template document, or null.
  static Tidy::Node* FindTemplateElement(Tidy::Document* document);

 private:
  CPluginChannels() = default;
};
