// The settings of akqp-cli: the settings folder and its files, and the table of the
// seventeen known keys that the compile stages read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// The product folder below the configuration base folder, with a trailing separator.
std::string ProductFolder();

// Start-up: makes the folder and its files, rewrites syntax/default.cfg, loads
// settings.cfg into the table and writes it back with every key. Never prints, never
// fails: problems are passed over.
void PrepareAtStartup();

// Later in start-up: makes sure the product folder and akqp.cfg exist.
void EnsureProductFolderAndConfig();

// The same two steps for a given product folder (with its trailing separator); the two
// calls above use ProductFolder(). Tests use these with a scratch folder.
void PrepareInFolder(const std::string& product_folder);
void EnsureFolderAndConfigIn(const std::string& product_folder);

// The names of the settings files below the product folder.
inline constexpr std::string_view kSettingsFileName = "settings.cfg";
inline constexpr std::string_view kConfigFileName = "akqp.cfg";
inline constexpr std::string_view kDefaultSyntaxFileName = "syntax/default.cfg";
inline constexpr std::string_view kCustomSyntaxFileName = "syntax/custom.cfg";

// The integer value of a key; a key that is not in the table reads as 0.
int32_t Lookup(std::string_view key);

// Tests set a value directly (also adds the key).
void SetForTest(std::string_view key, int32_t value);
// Empties the table (tests).
void ClearForTest();

}  // namespace settings
