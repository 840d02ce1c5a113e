// Scripts that run the archive statement, media copying and block unpacking over the
// in-memory disk. "Copy Offline" and "Unpack Block" stand for the web media loader's calls.
#pragma once

#include <optional>
#include <string>

#include "fake_media.h"
#include "media/archive_statement.h"
#include "support/script_fixture.h"

namespace kem::test {

class MediaTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    moreStatements = [this](StatementTable& table, InterpreterHooks&) { RegisterArchiveStatements(table, media); };
    prepare = [this](SetupData& data) {
      data.PluginStatements.push_back("Copy Offline");
      data.PluginStatements.push_back("Unpack Block");
      data.RevisionCode = "{REV-1}";
      data.MediaMode = mediaMode;
      for (const auto& s : compilerVariables) data.CompilerVariables.Add(s);
      for (const auto& s : mediaFileMap) data.MediaFileMap.Add(s);
    };
    hooks.PluginStatement = [this](Interpreter& in, std::size_t i) {
      const std::string& name = in.Data().StatementNames[i];
      if (name == "Copy Offline") {
        copied = CopyOfflineMedia(in, media, in.Param(i, 1), in.Param(i, 2));
      } else if (name == "Unpack Block") {
        unpacked = UnpackWebBlock(in, media, block);
      }
    };
  }
  // The message of the statement failure shown by the last run; empty when none.
  std::string Failure() const {
    for (const auto& box : host.boxes)
      if (box.text.find("Setup cancelled") == std::string::npos) return box.text;
    return {};
  }
  bool ShowedCancelled() const {
    for (const auto& box : host.boxes)
      if (box.text == "Setup cancelled") return true;
    return false;
  }

  FakeMediaFiles files;
  FakeArchives archives{files};
  FakeRetryPrompt prompt;
  MediaRunState state;
  MediaServices media{files, archives, prompt, state};
  std::int64_t mediaMode = 2;
  std::vector<std::string> compilerVariables;
  std::vector<std::string> mediaFileMap;
  WebBlockUnpack block;
  std::optional<bool> copied;
  std::optional<WebBlockUnpackResult> unpacked;
};

}  // namespace kem::test
