#include "update/ClientStaging.h"

#include "platform/ErrorCodes.h"
#include "platform/FileSystem.h"

namespace {

UnpackFault LocalFault(const std::string& file, std::string cause = platform::LastErrorText()) {
    return {true, file, std::move(cause)};
}

std::string ParentOf(const std::string& relative) {
    const size_t slash = relative.rfind('/');
    return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

}  // namespace

ClientStaging::ClientStaging(const std::string& dataDir, const std::string& clientDir) : m_client(clientDir) {
    // Beside the client folder, so that nothing of the game sees half an update; inside it only
    // when it lies on another file system (a link or a mount), where a move would be a copy.
    const bool inside =
        dataDir.empty() || (platform::IsFolder(clientDir) && !platform::SameFileSystem(dataDir, clientDir));
    m_folder = inside ? clientDir + "/.unpacking" : dataDir + "/client.unpacking";
}

ClientStaging::~ClientStaging() {
    if (platform::PathExists(m_folder)) {
        platform::RemoveFolderTree(m_folder);
    }
}

bool ClientStaging::Begin(UnpackFault& fault) {
    if (platform::PathExists(m_folder) && !platform::RemoveFolderTree(m_folder)) {
        fault = LocalFault(m_folder);
        return false;
    }
    if (platform::CreateDirectoryOneLevel(m_folder) != platform::kErrorSuccess) {
        fault = LocalFault(m_folder);
        return false;
    }
    return true;
}

void ClientStaging::AddFolder(const std::string& relative) {
    if (UnpackFault ignored; MakeParent(relative, ignored)) {
        platform::CreateDirectoryOneLevel(m_folder + "/" + relative);
    }
}

std::optional<std::string> ClientStaging::FilePath(const std::string& relative, UnpackFault& fault) {
    if (!MakeParent(relative, fault)) {
        return std::nullopt;
    }
    return m_folder + "/" + relative;
}

bool ClientStaging::MakeParent(const std::string& relative, UnpackFault& fault) {
    const std::string parent = ParentOf(relative);
    if (parent.empty() || platform::IsFolder(m_folder + "/" + parent)) {
        return true;
    }
    if (!platform::IsFolder(m_client + "/" + parent)) {
        // The package never listed the folder and the client has none: as in the original, the
        // entry cannot be created. Fetching the package again would bring the same.
        fault = {false, m_client + "/" + parent,
                 "the folder is neither in the package nor in the client folder"};
        return false;
    }
    // The folder exists in the client: the same levels are made here, for the move to find.
    for (size_t next = parent.find('/');; next = parent.find('/', next + 1)) {
        platform::CreateDirectoryOneLevel(m_folder + "/" + parent.substr(0, next));
        if (next == std::string::npos) {
            break;
        }
    }
    if (!platform::IsFolder(m_folder + "/" + parent)) {
        fault = LocalFault(m_folder + "/" + parent);
        return false;
    }
    return true;
}

bool ClientStaging::Commit(UnpackFault& fault) {
    return Merge(m_folder, m_client, /*dryRun=*/true, fault) &&
           Merge(m_folder, m_client, /*dryRun=*/false, fault);
}

bool ClientStaging::Merge(const std::string& from, const std::string& to, bool dryRun, UnpackFault& fault) {
    const auto entries = platform::ListFolder(from);
    if (!entries) {
        fault = LocalFault(from);
        return false;
    }
    bool writable = false;
    for (const auto& entry : *entries) {
        const std::string source = from + "/" + entry.name;
        const std::string target = to + "/" + entry.name;
        const bool targetIsFolder = platform::IsFolder(target);
        if (entry.isFolder && targetIsFolder) {
            if (!Merge(source, target, dryRun, fault)) {
                return false;
            }
            continue;
        }
        if (platform::PathExists(target) && (entry.isFolder || targetIsFolder)) {
            fault = LocalFault(target, entry.isFolder ? "a file is in the way of a folder of the package"
                                                      : "a folder is in the way of a file of the package");
            return false;
        }
        if (dryRun) {
            if (!writable && !platform::IsWritableFolder(to)) {
                fault = LocalFault(to);
                return false;
            }
            writable = true;
        } else if (platform::MoveFile(source, target) != platform::kErrorSuccess) {
            fault = LocalFault(target);
            return false;
        }
    }
    return true;
}
