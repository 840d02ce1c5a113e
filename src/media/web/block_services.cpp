#include "media/web/block_services.h"

#include "engine/engine_context.h"
#include "engine/statement_error.h"
#include "script/interpreter/interpreter.h"

namespace kem {

namespace {

class FilesMachine final : public WebMediaMachine {
 public:
  explicit FilesMachine(MediaFileService& files) : files_(files) {}
  bool FileExists(const std::string& path) override { return files_.FileExists(path); }
  bool FolderExists(const std::string& path) override { return files_.FolderExists(path); }
  bool CreateFolder(const std::string& path, bool compress) override {
    const bool existed = files_.FolderExists(path);
    if (!files_.CreateFolders(path)) return false;
    if (compress && !existed) files_.SetCompressed(path);
    return true;
  }
  void EmptyFolder(const std::string& path) override { kem::EmptyFolder(files_, path, false); }
  bool RemoveFolder(const std::string& path) override { return files_.RemoveFolder(path); }
  bool CreateEmptyFile(const std::string& path) override { return files_.CreateEmptyFile(path); }
  bool RemoveFile(const std::string& path) override { return files_.RemoveFile(path); }
  std::vector<std::string> SubFolders(const std::string& path) override {
    std::vector<std::string> out;
    for (const MediaEntry& e : files_.List(path))
      if (e.Folder && !e.Link) out.push_back(e.Name);
    return out;
  }

 private:
  MediaFileService& files_;
};

}  // namespace

std::shared_ptr<WebMediaMachine> MediaFilesMachine(MediaFileService& files) {
  return std::make_shared<FilesMachine>(files);
}

void UseBlockMedia(WebMediaServices& services, MediaServices& media) {
  MediaServices* m = &media;
  services.Machine = MediaFilesMachine(media.Files);
  services.MoveFolder = [m](Interpreter&, const std::string& from, const std::string& to) {
    return TransferFolder(m->Files, from, to, true);
  };
  services.CopyOffline = [m](Interpreter& in, const std::string& from, const std::string& to) {
    if (!CopyOfflineMedia(in, *m, from, to)) throw StatementError(in.Context().Message(12));
  };
  services.Unpack = [m](Interpreter& in, const std::string& archive, const std::string& password,
                        const std::string& dataFolder, const std::string& blockFolder, bool local) {
    WebBlockUnpack block{archive, password, dataFolder, dataFolder + blockFolder, local};
    UnpackOutcome out;
    out.Unpacked = UnpackWebBlock(in, *m, block) == WebBlockUnpackResult::Unpacked;
    return out;
  };
}

}  // namespace kem
