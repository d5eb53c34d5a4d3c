#pragma once

#include <filesystem>
#include <string_view>

namespace tarvo::client {

inline constexpr std::string_view kConnectFailedText =
    "Could not establish a connection to the server!";
inline constexpr std::string_view kDisconnectedText = "You have been disconnected from the server.";
inline constexpr std::string_view kDecompressErrorText = "Decompress error";
inline constexpr std::string_view kAdminMessageCaption = "Administrator message";
inline constexpr std::string_view kUdpBlockedText =
    "UDP is blocked: the game goes through the server.";

/// What a session shows and what it loads. The main window implements it with message boxes
/// and the level scene; bots and tests record the calls.
class SessionHost {
 public:
  virtual ~SessionHost() = default;
  /// A modal message box with one OK button; an empty caption means the program's own.
  virtual void ShowMessage(std::string_view text, std::string_view caption) = 0;
  /// The local player enters the level held in `file`.
  virtual void LoadLevel(const std::filesystem::path& file) = 0;
  /// A line of news for the chat overlay, no box: the game goes on as before.
  virtual void ShowNotice(std::string_view /*text*/) {}
};

}  // namespace tarvo::client
