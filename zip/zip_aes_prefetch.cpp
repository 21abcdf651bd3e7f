// SPDX-License-Identifier: GPL-3.0-or-later
#include "zip/zip_aes_prefetch.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <thread>
#include <unistd.h>

#include <openssl/crypto.h>

#include "zip/zip_bytes.h"

namespace halvex {
namespace {

constexpr std::size_t kLocalHeaderLength = 30;
constexpr std::uint32_t kLocalSignature = 0x04034b50;

bool ReadAt(int fd, unsigned char* out, std::size_t count, std::uint64_t position) {
    while (count > 0) {
        const ssize_t n = ::pread(fd, out, count, static_cast<off_t>(position));
        if (n <= 0) return false;
        out += n;
        count -= static_cast<std::size_t>(n);
        position += static_cast<std::uint64_t>(n);
    }
    return true;
}

}  // namespace

struct AesKeyPrefetcher::State {
    struct Derived {
        std::array<unsigned char, 16> salt{};
        AesKeys keys;
    };
    std::string password;
    int fd = -1;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Job> pending;
    std::map<int, Derived> done;
    std::vector<bool> taken;  // entries the reader has opened: never derived again
    int deriving = -1;  // the index the thread is working on
    bool stop = false;
    std::thread thread;

    // The salt of the job's entry, read through the thread's own descriptor.
    bool ReadSalt(const Job& job, std::span<unsigned char> salt) const {
        unsigned char local[kLocalHeaderLength];
        if (!ReadAt(fd, local, sizeof local, job.localHeader) || GetLe32(local) != kLocalSignature) return false;
        const std::uint64_t dataStart = job.localHeader + kLocalHeaderLength + GetLe16(local + 26) + GetLe16(local + 28);
        return ReadAt(fd, salt.data(), salt.size(), dataStart);
    }

    void Run() {
        std::unique_lock guard(lock);
        for (;;) {
            changed.wait(guard, [&] { return stop || !pending.empty(); });
            if (stop) return;
            const Job job = pending.front();
            pending.pop_front();
            deriving = job.index;
            guard.unlock();
            Derived derived;
            const std::span salt(derived.salt.data(), AesSaltLength(job.strength));
            bool made = false;
            try {
                if (ReadSalt(job, salt)) {
                    derived.keys = DeriveAesKeys(password, salt, job.strength);
                    made = true;
                }
            } catch (...) {
                // The reader derives this one itself.
            }
            guard.lock();
            if (made) done.insert_or_assign(job.index, std::move(derived));
            deriving = -1;
            changed.notify_all();
        }
    }
};

AesKeyPrefetcher::AesKeyPrefetcher(const std::string& path, std::string password)
    : state_(std::make_unique<State>()) {
    state_->password = std::move(password);
    state_->fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (state_->fd >= 0) state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

AesKeyPrefetcher::~AesKeyPrefetcher() {
    {
        std::lock_guard guard(state_->lock);
        state_->stop = true;
    }
    state_->changed.notify_all();
    if (state_->thread.joinable()) state_->thread.join();
    if (state_->fd >= 0) ::close(state_->fd);
    OPENSSL_cleanse(state_->password.data(), state_->password.size());
}

const std::string& AesKeyPrefetcher::Password() const { return state_->password; }

void AesKeyPrefetcher::Want(const std::vector<Job>& jobs) {
    if (state_->fd < 0) return;
    std::lock_guard guard(state_->lock);
    State& state = *state_;
    state.pending.clear();
    if (jobs.empty()) return;
    const auto range = std::minmax_element(jobs.begin(), jobs.end(),
                                           [](const Job& a, const Job& b) { return a.index < b.index; });
    const auto low = range.first->index, high = range.second->index;
    // Keys derived for entries the reader went past unopened are dropped once too many wait.
    if (state.done.size() > 2 * kAhead) {
        std::erase_if(state.done, [&](const auto& item) { return item.first < low || item.first > high; });
    }
    for (const Job& job : jobs) {
        const bool wasTaken = static_cast<std::size_t>(job.index) < state.taken.size() && state.taken[job.index];
        if (!wasTaken && job.index != state.deriving && state.done.count(job.index) == 0) state.pending.push_back(job);
    }
    state_->changed.notify_all();
}

std::optional<AesKeys> AesKeyPrefetcher::Take(int index, std::span<const unsigned char> salt) {
    std::unique_lock guard(state_->lock);
    if (index < 0) return std::nullopt;
    if (static_cast<std::size_t>(index) >= state_->taken.size()) state_->taken.resize(index + std::size_t{1});
    state_->taken[index] = true;
    std::erase_if(state_->pending, [&](const Job& job) { return job.index == index; });
    state_->changed.wait(guard, [&] { return state_->deriving != index; });
    const auto found = state_->done.find(index);
    if (found == state_->done.end()) return std::nullopt;
    std::optional<AesKeys> keys;
    const std::span made(found->second.salt.data(), AesSaltLength(found->second.keys.strength));
    if (std::equal(made.begin(), made.end(), salt.begin(), salt.end())) keys = found->second.keys;
    state_->done.erase(found);
    return keys;
}

}  // namespace halvex
