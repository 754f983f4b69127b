#pragma once
// The program's name and release as both programs show them, and where its settings live.

namespace kordb {

inline constexpr const char* kAppCaption = "Korvin Database Migration Tools";
inline constexpr const char* kVersionLine = "Ver 7.0 [20090407]";
inline constexpr const char* kSettingsApp = "KORDB";
inline constexpr const char* kSettingsSection = "GeneralSetting";

}  // namespace kordb
