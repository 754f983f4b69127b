#pragma once
// The per-user settings store: text values under application, section and key, key names
// matched without regard to letter case. Kept as one INI file per application in the
// platform's per-user configuration folder, readable by its owner only (it holds a password).

#include <filesystem>
#include <string>

namespace kordb {

class SettingsStore {
  public:
    // folder: where the application's file lives; empty = the per-user configuration folder.
    explicit SettingsStore(std::filesystem::path folder = {});

    // Empty text when nothing is stored. Throws KorError when the file cannot be read.
    std::string get(const std::string& app, const std::string& section,
                    const std::string& key) const;
    // Throws KorError when the file cannot be written.
    void save(const std::string& app, const std::string& section, const std::string& key,
              const std::string& value);

    std::filesystem::path fileFor(const std::string& app) const;

  private:
    std::filesystem::path folder_;
};

}  // namespace kordb
