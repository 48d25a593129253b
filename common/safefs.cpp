#include "safefs.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace
{
// O_NOFOLLOW keeps a link (even one swapped in after it was examined) from
// leading a removal or a merge out of the tree.
UniqueFd OpenFolderNoFollow(int fdParent, const char* pcszName)
{
    return UniqueFd(openat(fdParent, pcszName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

// The names in a folder, read before any of them is moved or removed.
bool ListEntries(int fdDir, std::vector<std::string>& names)
{
    UniqueFd fd(openat(fdDir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    UniqueDir pDir(fd.IsOpen() ? fdopendir(fd.Get()) : nullptr);
    if (!pDir)
        return false;
    (void)fd.Release(); // the stream owns it now
    for (;;)
    {
        errno = 0;
        const dirent* pEntry = readdir(pDir.get());
        if (pEntry == nullptr)
            return errno == 0;
        if (std::strcmp(pEntry->d_name, ".") != 0 && std::strcmp(pEntry->d_name, "..") != 0)
            names.emplace_back(pEntry->d_name);
    }
}

int RemoveContents(int fdDir)
{
    std::vector<std::string> names;
    if (!ListEntries(fdDir, names))
        return -1;
    for (const std::string& name : names)
    {
        if (RemoveEntryAt(fdDir, name.c_str()) != 0 && errno != ENOENT)
            return -1;
    }
    return 0;
}

bool IsRootOnlyFolder(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == 0 &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

TRUST_FAULT Judge(const struct stat& st, bool bLast, TRUST_KIND eKind)
{
    if (S_ISLNK(st.st_mode))
        return TRUST_LINK;
    if (bLast && eKind == TRUST_FILE)
    {
        if (!S_ISREG(st.st_mode))
            return TRUST_NOT_FILE;
    }
    else if (!S_ISDIR(st.st_mode))
    {
        return TRUST_NOT_FOLDER;
    }
    if (st.st_uid != 0)
        return TRUST_NOT_ROOTS;
    const bool bStickyOnTheWay = !bLast && (st.st_mode & S_ISVTX) != 0;
    if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !bStickyOnTheWay)
        return TRUST_WRITABLE;
    return TRUST_OK;
}

// The components of an absolute path, without empty ones.
std::vector<std::string> Components(const char* pcszPath)
{
    std::vector<std::string> parts;
    std::string strPart;
    for (const char* pc = pcszPath;; ++pc)
    {
        if (*pc == '/' || *pc == '\0')
        {
            if (!strPart.empty())
                parts.push_back(strPart);
            strPart.clear();
            if (*pc == '\0')
                return parts;
        }
        else
        {
            strPart += *pc;
        }
    }
}

bool MoveEntry(int fdFrom, int fdInto, const std::string& name, std::string& strFailed)
{
    const char* pcszName = name.c_str();
    if (renameat2(fdFrom, pcszName, fdInto, pcszName, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EEXIST)
    {
        strFailed = name;
        return false;
    }
    UniqueFd fdOurs = OpenFolderNoFollow(fdFrom, pcszName);
    UniqueFd fdThere = OpenFolderNoFollow(fdInto, pcszName);
    if (fdOurs.IsOpen() && fdThere.IsOpen() && IsRootOnlyFolder(fdThere.Get()))
    {
        if (MoveEntriesInto(fdOurs.Get(), fdThere.Get(), strFailed))
            return true;
        strFailed = name + "/" + strFailed;
        return false;
    }
    // One step, so the name never stands empty for someone to fill: what was
    // there comes into the private folder, and goes from there.
    if (renameat2(fdFrom, pcszName, fdInto, pcszName, RENAME_EXCHANGE) != 0)
    {
        strFailed = name;
        return false;
    }
    // What cannot be removed now goes with the private folder.
    (void)RemoveEntryAt(fdFrom, pcszName);
    return true;
}
} // namespace

int RemoveTreeAt(int fdParent, const char* pcszName)
{
    UniqueFd fd = OpenFolderNoFollow(fdParent, pcszName);
    if (!fd.IsOpen() || RemoveContents(fd.Get()) != 0)
        return -1;
    return unlinkat(fdParent, pcszName, AT_REMOVEDIR);
}

int RemoveEntryAt(int fdParent, const char* pcszName)
{
    struct stat st;
    if (fstatat(fdParent, pcszName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    return S_ISDIR(st.st_mode) ? RemoveTreeAt(fdParent, pcszName) : unlinkat(fdParent, pcszName, 0);
}

int CreateNewFile(const char* pcszPath, mode_t mode)
{
    if (pcszPath == nullptr)
    {
        errno = EINVAL;
        return -1;
    }
    if (RemoveEntryAt(AT_FDCWD, pcszPath) != 0 && errno != ENOENT)
        return -1;
    UniqueFd fd(open(pcszPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.IsOpen())
        return -1;
    // The umask may have narrowed the mode at creation; the caller's is exact.
    if (fchmod(fd.Get(), mode) != 0)
    {
        const int iError = errno;
        (void)unlink(pcszPath);
        errno = iError;
        return -1;
    }
    return fd.Release();
}

int AppendLine(const char* pcszPath, const char* pcszLine)
{
    UniqueFd fd(open(pcszPath, O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.IsOpen())
        return errno;
    const std::string strText = std::string(pcszLine) + "\n";
    ssize_t nWritten;
    do
        nWritten = write(fd.Get(), strText.data(), strText.size());
    while (nWritten < 0 && errno == EINTR);
    if (nWritten < 0)
        return errno;
    if (static_cast<std::size_t>(nWritten) != strText.size())
        return EIO;
    return fd.Close() == 0 ? 0 : errno;
}

TRUST_RESULT CheckRootOnly(const char* pcszPath, TRUST_KIND eKind)
{
    if (pcszPath == nullptr || pcszPath[0] != '/')
        return {TRUST_MISSING, pcszPath != nullptr ? pcszPath : ""};
    const std::vector<std::string> parts = Components(pcszPath);
    UniqueFd fd(open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::string strAt = "/";
    for (std::size_t i = 0;; ++i)
    {
        struct stat st;
        if (!fd.IsOpen() || fstat(fd.Get(), &st) != 0)
            return {TRUST_UNREADABLE, strAt};
        const TRUST_FAULT eFault = Judge(st, i == parts.size(), eKind);
        if (eFault != TRUST_OK || i == parts.size())
            return {eFault, strAt};
        strAt += (i == 0 ? "" : "/") + parts[i];
        fd.Reset(openat(fd.Get(), parts[i].c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        if (!fd.IsOpen())
            return {errno == ENOENT ? TRUST_MISSING : TRUST_UNREADABLE, strAt};
    }
}

const char* TrustFaultText(TRUST_FAULT eFault)
{
    switch (eFault)
    {
    case TRUST_OK:
        return "root's alone";
    case TRUST_MISSING:
        return "missing";
    case TRUST_LINK:
        return "a link";
    case TRUST_NOT_FILE:
        return "not a regular file";
    case TRUST_NOT_FOLDER:
        return "not a folder";
    case TRUST_NOT_ROOTS:
        return "not owned by root";
    case TRUST_WRITABLE:
        return "writable by group or others";
    case TRUST_UNREADABLE:
        break;
    }
    return "cannot be examined";
}

PrivateFolder::~PrivateFolder()
{
    m_fd.Close();
    if (!m_strPath.empty())
        (void)RemoveTreeAt(AT_FDCWD, m_strPath.c_str()); // nothing of it is kept
}

bool PrivateFolder::Create(const char* pcszParent)
{
    std::string strTemplate = std::string(pcszParent) + "xedabldn.XXXXXX";
    if (mkdtemp(&strTemplate[0]) == nullptr)
        return false;
    m_strPath = strTemplate;
    m_fd.Reset(OpenFolderNoFollow(AT_FDCWD, m_strPath.c_str()).Release());
    return m_fd.IsOpen();
}

bool MoveEntriesInto(int fdFrom, int fdInto, std::string& strFailed)
{
    std::vector<std::string> names;
    if (!ListEntries(fdFrom, names))
    {
        strFailed = ".";
        return false;
    }
    for (const std::string& name : names)
    {
        if (!MoveEntry(fdFrom, fdInto, name, strFailed))
            return false;
    }
    return true;
}

ReplacingFile::~ReplacingFile()
{
    if (!m_strTemp.empty())
        (void)unlink(m_strTemp.c_str()); // gone already when it was committed
}

bool ReplacingFile::Create(const char* pcszTarget)
{
    std::string strTemp = std::string(pcszTarget) + ".XXXXXX";
    UniqueFd fd(mkostemp(&strTemp[0], O_CLOEXEC)); // mode 0600
    if (!fd.IsOpen())
        return false;
    m_strTarget = pcszTarget;
    m_strTemp = strTemp;
    return true;
}

bool ReplacingFile::Commit()
{
    if (m_strTemp.empty() || rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0)
        return false;
    m_strTemp.clear();
    return true;
}
