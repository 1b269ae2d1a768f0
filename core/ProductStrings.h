// Every name by which the product identifies itself, composed from one brand
// word so that all deliverables agree on them. Each call returns a new string.
#pragma once

#include <string>
#include <string_view>

std::u16string GetBrandName();             // "Orv"
std::u16string GetCompanyName();           // "Orv Software House"
std::u16string GetProductName();           // "Orv News"
std::u16string GetApplicationTitle();      // caption of the main window and message boxes
std::u16string GetInstanceGuid();          // single-instance mutex and hidden window class
std::u16string GetExeName();               // "Orv News.exe"
std::u16string GetLogFileName();           // "Orv News.exe_log.txt"
std::u16string GetInstallMarkerName();     // "\OrvNewsInstallation.txt"
std::u16string GetCompanyRegistryKey();    // "SOFTWARE\Orv Software House"
std::u16string GetProductRegistryKey();    // "SOFTWARE\Orv Software House\Orv News"
std::u16string GetHelpFileUrl();           // "file:OrvNews.htm"

// A copy of text with every "Orv Brevant" replaced by the product name.
std::u16string ApplyProductName(std::u16string_view text);
