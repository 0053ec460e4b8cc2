// Walking down the levels of an entry's folder, creating what is missing.
#include "tools/folder_levels.h"

#include "tools/system.h"

namespace tool {

bool MakeFolderLevels(const std::string& root, const std::string& relativeDir, std::string& error) {
    std::string path = root;
    size_t start = 0;
    while (start < relativeDir.size()) {
        size_t end = relativeDir.find('/', start);
        if (end == std::string::npos) end = relativeDir.size();
        path += '/';
        path.append(relativeDir, start, end - start);
        start = end + 1;
        os::PathFacts facts;
        if (os::StatPathItself(path, facts)) {
            if (facts.kind == os::PathKind::Link) {
                error = path + " is a symbolic link; not following it";
                return false;
            }
            if (facts.kind != os::PathKind::Folder) {
                error = path + " exists and is not a folder";
                return false;
            }
            continue;
        }
        if (!os::MakeFolder(path)) {
            error = "cannot create folder " + path + ": " + os::LastErrorText();
            return false;
        }
    }
    return true;
}

}  // namespace tool
