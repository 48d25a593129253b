// What a root program does in places other users can write: create a file
// only as a new file of its own, remove what another user placed without
// following their links, move a privately unpacked tree into place, and
// check that only root can change a path before running or scheduling it.
#pragma once

#include <sys/types.h>

#include <string>

#include "handles.h"

// Creates pcszPath as a new file of this process with exactly `mode`,
// opened for writing. Whatever stood at the path (a file, a link, a folder
// tree) is removed first, without following links; if something appears
// there again before the file is made, nothing is written and -1 is
// returned with errno set, as for any other failure.
int CreateNewFile(const char* pcszPath, mode_t mode);

// Appends pcszLine and a line end to an existing file in one write, never
// through a link, so that a concurrent writer's line is never split. 0, or
// the errno of what failed (EIO for a short write).
int AppendLine(const char* pcszPath, const char* pcszLine);

// Removes the entry pcszName of the folder fdParent (AT_FDCWD: a path):
// a whole tree for a folder, the link itself for a link. 0, or -1 with errno.
int RemoveEntryAt(int fdParent, const char* pcszName);
// The same for a folder only: -1 when pcszName is anything else.
int RemoveTreeAt(int fdParent, const char* pcszName);

// Why a path is not root's alone.
enum TRUST_FAULT
{
    TRUST_OK,
    TRUST_MISSING,
    TRUST_LINK,
    TRUST_NOT_FILE,
    TRUST_NOT_FOLDER,
    TRUST_NOT_ROOTS,
    TRUST_WRITABLE, // by its group or by others
    TRUST_UNREADABLE,
};

enum TRUST_KIND
{
    TRUST_FILE,
    TRUST_FOLDER,
};

struct TRUST_RESULT
{
    TRUST_FAULT eFault;
    std::string strAt; // the path as far as the component at fault
};

// Walks the absolute path from "/" without following any link: every folder
// on the way belongs to root and is writable by no one else (a root folder
// with the sticky bit, such as /var/tmp, may be writable by all: no one can
// replace what root keeps there), and the last component is a regular file
// (or a folder) of root's that its group and others cannot write.
TRUST_RESULT CheckRootOnly(const char* pcszPath, TRUST_KIND eKind);
const char* TrustFaultText(TRUST_FAULT eFault);

// A folder of root's alone, made new (mkdtemp) inside another folder and
// removed with everything left in it when the object goes.
class PrivateFolder
{
public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // pcszParent ends with '/'. false with errno when it cannot be made.
    bool Create(const char* pcszParent);
    const char* Path() const { return m_strPath.c_str(); }
    int Fd() const { return m_fd.Get(); }

private:
    std::string m_strPath;
    UniqueFd m_fd;
};

// Moves every entry of the private folder fdFrom into the folder fdInto. A
// folder of root's alone already there is merged into, level by level;
// anything else there (a file, a link, another user's folder) is replaced in
// one step and then removed. false, with the entry's name in strFailed and
// errno set, when an entry cannot be moved.
bool MoveEntriesInto(int fdFrom, int fdInto, std::string& strFailed);

// A file written under a temporary name beside its target (readable by root
// only) and renamed over the target only by Commit(); until then the old
// target stays untouched, and the temporary file goes with the object.
class ReplacingFile
{
public:
    ReplacingFile() = default;
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    bool Create(const char* pcszTarget); // false with errno
    const char* Path() const { return m_strTemp.c_str(); }
    bool Commit(); // false with errno; the temporary file is then removed

private:
    std::string m_strTarget;
    std::string m_strTemp;
};
