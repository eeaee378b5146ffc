#include "DetectorRegistry.h"

#include <chrono>
#include <random>
#include <utility>

namespace corvane::gateway {

DetectorRegistry::DetectorRegistry(std::uint32_t session) : session_(session) {}

std::uint64_t DetectorRegistry::Add(std::unique_ptr<DetectorState> state) {
    if (lastSerial_ == 0xFFFFFFFFu) return 0;
    ++lastSerial_;
    const std::uint64_t id = (std::uint64_t{session_} << 32) | lastSerial_;
    states_[id] = std::move(state);
    return id;
}

IdStatus DetectorRegistry::Status(std::uint64_t id) const {
    if (states_.count(id) != 0) return IdStatus::Live;
    const std::uint32_t session = static_cast<std::uint32_t>(id >> 32);
    const std::uint32_t serial = static_cast<std::uint32_t>(id);
    if (session == 0 || serial == 0) return IdStatus::NotAnId;
    if (session != session_) return IdStatus::EarlierLoad;
    return serial <= lastSerial_ ? IdStatus::Deleted : IdStatus::NotAnId;
}

DetectorState* DetectorRegistry::Find(std::uint64_t id) const {
    const auto found = states_.find(id);
    return found == states_.end() ? nullptr : found->second.get();
}

bool DetectorRegistry::Remove(std::uint64_t id) { return states_.erase(id) != 0; }

std::uint32_t NewSession() {
    static const int kHere = 0;
    std::uint64_t mixed =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    mixed ^= static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&kHere)) << 7;
    try {
        std::random_device device;
        mixed ^= (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        // No random source: the clock and the address still differ per load.
    }
    // SplitMix64's finaliser spreads every input bit over the result.
    mixed += 0x9E3779B97F4A7C15ull;
    mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
    mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
    mixed ^= mixed >> 31;
    const std::uint32_t session = static_cast<std::uint32_t>(mixed ^ (mixed >> 32));
    return session != 0 ? session : 1;
}

}  // namespace corvane::gateway
