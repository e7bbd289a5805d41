// Reader names and the folders that hold them. A name is any text a PC/SC
// reader could report: printable UTF-8, 1 to 255 bytes. On disk it becomes a
// folder name that cannot reach outside the store: letters, digits and
// " ._-()#" stay as they are (so folders made before names were encoded
// keep working), every other byte becomes %XX, and a leading '.', '-' or
// space is escaped too. A name whose folder name would be too long for the
// file system is kept as "~" and the SHA-256 of the name, with the exact name
// in the folder's "name" file.
#ifndef QUILLON_ZT_ZTREADERNAME_H
#define QUILLON_ZT_ZTREADERNAME_H

#include <string>

namespace zt {

constexpr size_t kMaxReaderName = 255;

bool validReaderName(const std::string& name);

// The folder name (not a path) of the reader's folder.
std::string readerFolderName(const std::string& name);
// True when the folder name is a hashed one, which needs its "name" file.
bool isHashedFolderName(const std::string& folder);
// The reader name a folder stands for; false when the folder is no reader's.
// `nameFile` is the contents of its "name" file, used for hashed folders.
bool readerNameOfFolder(const std::string& folder, const std::string& nameFile, std::string& name);

}  // namespace zt

#endif
