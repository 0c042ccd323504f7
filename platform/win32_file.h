#pragma once
#include "platform/file.h"

namespace fennwick {

// Files through the wide-character Win32 API, so that any name opens.
class Win32FileSystem final : public IFileSystem {
 protected:
  std::unique_ptr<IFile> Open(const std::u16string& path, int& error) override;
};

}  // namespace fennwick
