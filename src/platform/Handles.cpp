// Moving and ending the objects that own one system handle: the same on both systems, only
// closing the handle (Close, Release) is each system's own.

#include <utility>

#include "platform/DelayedDeletion.h"
#include "platform/File.h"
#include "platform/NamedMutex.h"

namespace platform {

File::File(File&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_error(std::exchange(other.m_error, 0)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, -1);
        m_error = std::exchange(other.m_error, 0);
    }
    return *this;
}

File::~File() { Close(); }

NamedMutex::NamedMutex(NamedMutex&& other) noexcept
    : m_handle(std::exchange(other.m_handle, -1)), m_state(std::exchange(other.m_state, State::Failed)) {}

NamedMutex& NamedMutex::operator=(NamedMutex&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, -1);
        m_state = std::exchange(other.m_state, State::Failed);
    }
    return *this;
}

NamedMutex::~NamedMutex() { Close(); }

DelayedFolderDeletion::DelayedFolderDeletion(DelayedFolderDeletion&& other) noexcept
    : m_trigger(std::exchange(other.m_trigger, -1)),
      m_pid(std::exchange(other.m_pid, -1)),
      m_error(std::exchange(other.m_error, 0)) {}

DelayedFolderDeletion& DelayedFolderDeletion::operator=(DelayedFolderDeletion&& other) noexcept {
    if (this != &other) {
        Release();
        m_trigger = std::exchange(other.m_trigger, -1);
        m_pid = std::exchange(other.m_pid, -1);
        m_error = std::exchange(other.m_error, 0);
    }
    return *this;
}

DelayedFolderDeletion::~DelayedFolderDeletion() { Release(); }

}  // namespace platform
