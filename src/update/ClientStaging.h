#pragma once
// Unpacked files wait in a staging folder on the client folder's file system until every entry
// of the package has checked out; only then is each moved into the client folder with one
// rename. A failed or interrupted unpacking so leaves the installed client as it was, and the
// disk needs room for the unpacked files once, not for a second copy of the client.
//
// Runs on the update worker.

#include <optional>
#include <string>

// Why an unpacking stopped, for its one ERROR line and for what happens to the package.
struct UnpackFault {
    // The local file system refused (no space, no permission, a path in the way): the package
    // itself may be sound, and downloading it again would not help.
    bool localDisk = false;
    std::string file;
    std::string cause;
};

class ClientStaging {
  public:
    ClientStaging(const std::string& dataDir, const std::string& clientDir);
    ~ClientStaging();  // removes the staging folder with whatever is still in it
    ClientStaging(const ClientStaging&) = delete;
    ClientStaging& operator=(const ClientStaging&) = delete;

    const std::string& Folder() const { return m_folder; }

    // Removes what an interrupted earlier attempt left there and makes the empty folder.
    bool Begin(UnpackFault& fault);

    // A folder entry ("a/b", no trailing separator): one level, its failure ignored, as the
    // original's CreateDirectory; a real problem shows when a file needs the folder.
    void AddFolder(const std::string& relative);

    // Where a file entry is written. Its folder must exist: made by an earlier folder entry, or
    // present in the client folder already; nullopt with the fault otherwise.
    std::optional<std::string> FilePath(const std::string& relative, UnpackFault& fault);

    // Moves everything staged into the client folder. It first checks that nothing is in the
    // way and that every folder receiving entries is writable, so a refusal that can be seen
    // coming leaves the client untouched.
    bool Commit(UnpackFault& fault);

  private:
    // Makes sure the folder that relative goes into exists in the staging folder.
    bool MakeParent(const std::string& relative, UnpackFault& fault);
    bool Merge(const std::string& from, const std::string& to, bool dryRun, UnpackFault& fault);

    std::string m_client;
    std::string m_folder;
};
