#include "KordelSim.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "ByteOrder.h"
#include "LineParamsLinux.h"

namespace kordel::sim {

namespace {

constexpr std::uint8_t Start = 0x1B;
constexpr std::uint8_t Marker = 0x0E;
constexpr std::size_t Header = 6;
constexpr std::size_t MaxPayload = 1024;  // anything longer is noise, not a request

constexpr std::uint8_t StUnknownCommand = 0xC0;
constexpr std::uint8_t StUnknownFunction = 0xC1;
constexpr std::uint8_t StWrongParameterCount = 0xC2;
constexpr std::uint8_t StCryptError = 0xC3;
constexpr std::uint8_t StValueRange = 0xC4;

std::uint8_t Xor(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t to) {
    std::uint8_t x = 0;
    for (std::size_t i = from; i < to; ++i) x ^= bytes[i];
    return x;
}

// CRC-32/MPEG-2, bytewise, MSB first.
std::uint32_t Mpeg2Crc(std::uint32_t crc, std::uint8_t byte) {
    crc ^= static_cast<std::uint32_t>(byte) << 24;
    for (int bit = 0; bit < 8; ++bit)
        crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    return crc;
}

void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("kordel-sim: ") + what + ": " + std::strerror(errno));
}

int ParseNumber(std::string_view text, bool& ok) {
    std::string s(text);
    char* end = nullptr;
    long v = std::strtol(s.c_str(), &end, 0);
    ok = !s.empty() && end == s.c_str() + s.size() && v >= 0 && v <= 1000000;
    return static_cast<int>(v);
}

}  // namespace

// ---------------------------------------------------------------- helpers

std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') continue;
        int v = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
        if (v < 0) return std::nullopt;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return bytes;
}

std::optional<FaultRule> ParseFaultRule(std::string_view text, std::string& error) {
    FaultRule rule;
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) {
        error = "missing '=' in fault rule";
        return std::nullopt;
    }
    std::string_view target = text.substr(0, eq);
    std::string_view action = text.substr(eq + 1);
    bool ok = true;
    if (auto at = target.find('@'); at != std::string_view::npos) {
        rule.occurrence = ParseNumber(target.substr(at + 1), ok);
        if (!ok || rule.occurrence < 1) {
            error = "occurrence after '@' must be 1 or more";
            return std::nullopt;
        }
        target = target.substr(0, at);
    }
    if (!target.empty() && target != "*") {
        auto cmd = ParseHex(target);
        if (!cmd || cmd->size() != 1) {
            error = "command must be two hex digits or '*'";
            return std::nullopt;
        }
        rule.command = (*cmd)[0];
    }
    std::string_view kind = action.substr(0, action.find(':'));
    std::string_view arg =
        action.find(':') == std::string_view::npos ? "" : action.substr(action.find(':') + 1);
    struct Kind {
        const char* name;
        FaultKind kind;
        bool needsArg;
    };
    static constexpr Kind kinds[] = {
        {"none", FaultKind::NoReply, false},      {"garbage", FaultKind::Garbage, false},
        {"seq", FaultKind::WrongSequence, false}, {"marker", FaultKind::BadMarker, false},
        {"check", FaultKind::BadCheck, false},    {"trunc", FaultKind::Truncate, true},
        {"status", FaultKind::Status, true},      {"delay", FaultKind::Delay, true},
        {"hangup", FaultKind::HangUp, false},     {"data", FaultKind::Data, true},
        {"dribble", FaultKind::Dribble, true},
    };
    for (const auto& k : kinds) {
        if (kind != k.name) continue;
        rule.fault.kind = k.kind;
        if (k.needsArg && arg.empty()) {
            error = std::string("fault '") + k.name + "' needs a value after ':'";
            return std::nullopt;
        }
        if (k.kind == FaultKind::Data) {
            auto bytes = ParseHex(arg);
            if (!bytes || bytes->size() > 268) {
                error = "data must be up to 268 bytes of hex digits";
                return std::nullopt;
            }
            rule.fault.data = *bytes;
        } else if (k.needsArg) {
            rule.fault.arg = ParseNumber(arg, ok);
            if (!ok || (k.kind == FaultKind::Status && rule.fault.arg > 255)) {
                error = "bad value '" + std::string(arg) + "'";
                return std::nullopt;
            }
        }
        return rule;
    }
    error = "unknown fault '" + std::string(kind) + "'";
    return std::nullopt;
}

std::uint16_t ExpectedCryptWord(const std::array<std::uint8_t, 12>& cpuId) {
    // The words w0^w1, w1^w2, w2^w0 of the CPU-ID, each fed high byte first.
    std::uint32_t w[3];
    for (int i = 0; i < 3; ++i) w[i] = Le32(&cpuId[4 * i]);
    const std::uint32_t mixed[3] = {w[0] ^ w[1], w[1] ^ w[2], w[2] ^ w[0]};
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::uint32_t word : mixed) {
        for (int shift = 24; shift >= 0; shift -= 8) crc = Mpeg2Crc(crc, word >> shift & 0xFF);
    }
    return static_cast<std::uint16_t>(crc >> 16);
}

std::array<std::uint8_t, 48> SimOptions::DefaultBootInfo() {
    std::array<std::uint8_t, 48> b{};
    const std::uint8_t head[] = {'K', 'O', 'R', 'D', 1, 3, 2, 0, 0x41, 0x43, 0x00, 0x00};
    std::memcpy(b.data(), head, sizeof head);
    std::memcpy(b.data() + 16, "2026-01-15", 10);
    std::memcpy(b.data() + 32, "SIM-000001", 10);
    return b;
}

// ---------------------------------------------------------------- life cycle

KordelSim::KordelSim(SimOptions options) : options_(std::move(options)) {
    cryptWord_ = ExpectedCryptWord(options_.cpuId);
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    Check(master_ >= 0, "posix_openpt");
    Check(::grantpt(master_) == 0 && ::unlockpt(master_) == 0, "unlockpt");
    char name[128];
    Check(::ptsname_r(master_, name, sizeof name) == 0, "ptsname");
    slavePath_ = name;
    ownSlave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    Check(ownSlave_ >= 0, "open slave");
    termios tio{};
    Check(::tcgetattr(ownSlave_, &tio) == 0, "tcgetattr");
    ::cfmakeraw(&tio);
    Check(::tcsetattr(ownSlave_, TCSANOW, &tio) == 0, "tcsetattr");
    inotify_ = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    Check(inotify_ >= 0, "inotify_init1");
    Check(::inotify_add_watch(inotify_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) >= 0,
          "inotify_add_watch");
    stopFd_ = ::eventfd(0, EFD_CLOEXEC);
    Check(stopFd_ >= 0, "eventfd");
    if (!options_.linkPath.empty()) {
        try {
            MakeLink();
        } catch (...) {
            CloseDescriptors();
            throw;
        }
    }
    thread_ = std::thread([this] { Run(); });
}

KordelSim::~KordelSim() {
    Stop();
    // While the terminal is still open its name cannot go to another simulator.
    RemoveLink();
    CloseDescriptors();
}

void KordelSim::CloseDescriptors() {
    for (int* fd : {&master_, &ownSlave_, &inotify_, &stopFd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

namespace {

// A link's inode, and when it got its name: a freed inode number may be given to the
// next new file, so the number alone does not tell a link made anew from ours.
std::array<std::int64_t, 4> LinkIdentity(const struct stat& st) {
    return {static_cast<std::int64_t>(st.st_dev), static_cast<std::int64_t>(st.st_ino),
            static_cast<std::int64_t>(st.st_ctim.tv_sec),
            static_cast<std::int64_t>(st.st_ctim.tv_nsec)};
}

}  // namespace

// A link left by a simulator that was killed is replaced in one step, by a new link
// renamed over it; anything else at the path is somebody's file and is left alone.
void KordelSim::MakeLink() {
    const std::string& path = options_.linkPath;
    if (::symlink(slavePath_.c_str(), path.c_str()) != 0) {
        if (errno != EEXIST) Check(false, ("cannot make the link " + path).c_str());
        struct stat old {};
        if (::lstat(path.c_str(), &old) == 0 && !S_ISLNK(old.st_mode)) {
            throw std::runtime_error("kordel-sim: " + path +
                                     " exists and is not a symbolic link; it is left alone: "
                                     "remove it or give --link another path");
        }
        const std::string temp = path + ".tmp~" + std::to_string(::getpid());
        Check(::symlink(slavePath_.c_str(), temp.c_str()) == 0,
              ("cannot make the link " + temp).c_str());
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            const int error = errno;
            ::unlink(temp.c_str());
            errno = error;
            Check(false, ("cannot replace the link " + path).c_str());
        }
    }
    struct stat made {};
    Check(::lstat(path.c_str(), &made) == 0, ("cannot find the link just made at " + path).c_str());
    linkId_ = LinkIdentity(made);
}

// Only the link this simulator made, and only while it still names this terminal: a
// newer simulator may have put its own link in its place, or a user a file.
void KordelSim::RemoveLink() {
    if (!linkId_) return;
    const std::string& path = options_.linkPath;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return;
    if (LinkIdentity(st) != *linkId_) return;
    std::string target(slavePath_.size() + 1, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0 || target.substr(0, static_cast<std::size_t>(n)) != slavePath_) return;
    ::unlink(path.c_str());
}

void KordelSim::Stop() {
    if (!thread_.joinable()) return;
    std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
}

void KordelSim::Run() {
    std::uint8_t buf[512];
    for (;;) {
        pollfd fds[3] = {{stopFd_, POLLIN, 0}, {inotify_, POLLIN, 0}, {master_, POLLIN, 0}};
        const nfds_t count = hungUp_ ? 1 : 3;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents) return;
        if (count > 1 && fds[1].revents) HandleOpenClose();
        if (count > 2 && (fds[2].revents & POLLIN)) {
            ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) OnBytes(buf, static_cast<std::size_t>(n));
        }
    }
}

// ---------------------------------------------------------------- clients

void KordelSim::HandleOpenClose() {
    alignas(inotify_event) char buf[4096];
    for (;;) {
        ssize_t n = ::read(inotify_, buf, sizeof buf);
        if (n <= 0) return;
        for (char* p = buf; p < buf + n;) {
            auto* ev = reinterpret_cast<inotify_event*>(p);
            if (ev->mask & IN_OPEN) ++openClients_;
            if ((ev->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) && openClients_ > 0) {
                if (--openClients_ == 0) PortClosed();
            }
            p += sizeof(inotify_event) + ev->len;
        }
    }
}

void KordelSim::PortClosed() {
    pending_.clear();
    WriteFlashOut();
    std::lock_guard lock(mutex_);
    ++closeCount_;
    changed_.notify_all();
}

void KordelSim::WriteFlashOut() const {
    if (options_.flashOut.empty()) return;
    const auto image = Flash();
    std::ofstream out(options_.flashOut, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
}

void KordelSim::HangUp() {
    ::close(master_);
    ::close(ownSlave_);
    master_ = ownSlave_ = -1;
    WriteFlashOut();
    std::lock_guard lock(mutex_);
    hungUp_ = true;
    changed_.notify_all();
}

// ---------------------------------------------------------------- frames

void KordelSim::OnBytes(const std::uint8_t* data, std::size_t n) {
    pending_.insert(pending_.end(), data, data + n);
    for (;;) {
        // Resynchronise on the start byte; a frame that does not check out is noise.
        std::size_t skip = 0;
        while (skip < pending_.size() && pending_[skip] != Start) ++skip;
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(skip));
        if (pending_.size() < Header) return;
        const std::size_t len = Le16(&pending_[2]);
        if (len > MaxPayload || pending_[5] != Marker) {
            pending_.erase(pending_.begin());
            continue;
        }
        if (pending_.size() < Header + len + 1) return;
        if (Xor(pending_, 0, Header + len) != pending_[Header + len]) {
            pending_.erase(pending_.begin());
            continue;
        }
        ReceivedFrame frame;
        frame.sequence = pending_[1];
        frame.command = pending_[4];
        frame.payload.assign(pending_.begin() + Header,
                             pending_.begin() + static_cast<std::ptrdiff_t>(Header + len));
        frame.raw.assign(pending_.begin(),
                         pending_.begin() + static_cast<std::ptrdiff_t>(Header + len + 1));
        pending_.erase(pending_.begin(),
                       pending_.begin() + static_cast<std::ptrdiff_t>(Header + len + 1));
        HandleFrame(frame);
        if (hungUp_) return;
    }
}

void KordelSim::CheckLine() {
    LineParams line;
    if (ReadLineParams(master_, line) != 0) return;
    std::vector<std::string> found;
    if (line.outputBaud != options_.expectedBaud) {
        found.push_back("line speed " + std::to_string(line.outputBaud) + ", expected " +
                        std::to_string(options_.expectedBaud));
    }
    if (line.dataBits != 8 || line.parity || line.twoStopBits) {
        found.push_back("line is not 8N1");
    }
    if (line.rtsCtsFlow || line.xonXoff) found.push_back("flow control is on");
    if (!line.raw) found.push_back("line is not in raw mode");
    std::lock_guard lock(mutex_);
    for (auto& text : found) {
        bool known = false;
        for (const auto& r : lineReports_) known = known || r == text;
        if (!known) {
            std::fprintf(stderr, "kordel-sim: %s\n", text.c_str());
            lineReports_.push_back(std::move(text));
        }
    }
}

void KordelSim::BuildAnswer(const ReceivedFrame& frame, std::uint8_t& status,
                            std::vector<std::uint8_t>& data) {
    status = 0;
    data.clear();
    const auto& p = frame.payload;
    switch (frame.command) {
        case 0xF2:
            data.assign(options_.bootInfo.begin(), options_.bootInfo.end());
            break;
        case 0xF5:
            data.assign(options_.cpuId.begin(), options_.cpuId.end());
            break;
        case 0xF9: {
            if (p.size() != 4 + 2 + 256) {
                status = StWrongParameterCount;
                break;
            }
            const std::uint32_t address = Le32(p.data());
            const std::uint16_t crypt = Le16(&p[4]);
            if (crypt != cryptWord_) {
                status = StCryptError;
            } else if (address < FlashBase || address - FlashBase > FlashSize - 256) {
                status = StValueRange;
            } else {
                const std::uint32_t offset = address - FlashBase;
                std::lock_guard lock(mutex_);
                // The flash grows as it is written, erased (FF) up to the block: filling
                // all of it up front costs a megabyte per module at start-up.
                if (flash_.size() < offset + 256) flash_.resize(offset + 256, 0xFF);
                std::copy(p.begin() + 6, p.end(), flash_.begin() + offset);
                flashEnd_ = std::max(flashEnd_, offset + 256);
            }
            break;
        }
        case 0xF1:
            status = p.size() == 1 && p[0] == 'R' ? 0 : StUnknownFunction;
            break;
        default:
            status = StUnknownCommand;
            break;
    }
}

void KordelSim::HandleFrame(const ReceivedFrame& frame) {
    CheckLine();
    std::vector<Fault> faults;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(frame);
        while (requests_.size() > options_.requestHistory) requests_.pop_front();
        const int occurrence = ++seen_[frame.command];
        for (const auto& rule : options_.faults) {
            if ((rule.command < 0 || rule.command == frame.command) &&
                (rule.occurrence == 0 || rule.occurrence == occurrence)) {
                faults.push_back(rule.fault);
            }
        }
        changed_.notify_all();
    }

    std::uint8_t status = 0;
    std::vector<std::uint8_t> data;
    std::uint8_t sequence = frame.sequence;
    for (const Fault& f : faults) {
        if (f.kind == FaultKind::HangUp) return HangUp();
        if (f.kind == FaultKind::NoReply) return;
    }
    BuildAnswer(frame, status, data);
    for (const Fault& f : faults) {
        if (f.kind == FaultKind::Status) status = static_cast<std::uint8_t>(f.arg);
        if (f.kind == FaultKind::Data) data = f.data;
        if (f.kind == FaultKind::WrongSequence) ++sequence;
        if (f.kind == FaultKind::Delay && !PauseUnlessStopped(f.arg)) return;
    }

    std::vector<std::uint8_t> reply = {Start,
                                       sequence,
                                       static_cast<std::uint8_t>(data.size() & 0xFF),
                                       static_cast<std::uint8_t>(data.size() >> 8),
                                       status,
                                       Marker};
    reply.insert(reply.end(), data.begin(), data.end());
    reply.push_back(Xor(reply, 0, reply.size()));
    int gapMs = 0;
    for (const Fault& f : faults) {
        if (f.kind == FaultKind::BadMarker) reply[5] = Marker ^ 0x01;
        if (f.kind == FaultKind::BadCheck) reply.back() ^= 0xFF;
        if (f.kind == FaultKind::Truncate) reply.resize(std::min<std::size_t>(reply.size(), f.arg));
        if (f.kind == FaultKind::Garbage) reply.insert(reply.begin(), 0xA5);
        if (f.kind == FaultKind::Dribble) gapMs = f.arg;
    }
    SendReply(reply, gapMs);
}

// All at once, or one byte at a time with `gapMs` between bytes.
void KordelSim::SendReply(const std::vector<std::uint8_t>& reply, int gapMs) {
    const std::size_t chunk = gapMs > 0 ? 1 : reply.size();
    for (std::size_t at = 0; at < reply.size();) {
        if (at > 0 && !PauseUnlessStopped(gapMs)) return;
        std::size_t left = std::min(chunk, reply.size() - at);
        while (left > 0) {
            ssize_t n = ::write(master_, reply.data() + at, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            at += static_cast<std::size_t>(n);
            left -= static_cast<std::size_t>(n);
        }
    }
}

bool KordelSim::PauseUnlessStopped(int ms) const {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return true;
        pollfd stop{stopFd_, POLLIN, 0};
        if (::poll(&stop, 1, static_cast<int>(left)) > 0) return false;
    }
}

// ---------------------------------------------------------------- observers

void KordelSim::AddFault(const FaultRule& rule) {
    std::lock_guard lock(mutex_);
    options_.faults.push_back(rule);
}

std::vector<std::uint8_t> KordelSim::Flash() const {
    std::lock_guard lock(mutex_);
    return {flash_.begin(), flash_.begin() + flashEnd_};
}

std::vector<ReceivedFrame> KordelSim::Requests() const {
    std::lock_guard lock(mutex_);
    return {requests_.begin(), requests_.end()};
}

std::vector<std::string> KordelSim::LineReports() const {
    std::lock_guard lock(mutex_);
    return lineReports_;
}

int KordelSim::CloseCount() const {
    std::lock_guard lock(mutex_);
    return closeCount_;
}

bool KordelSim::WaitForCloses(int count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return closeCount_ >= count; });
}

bool KordelSim::HungUp() const {
    std::lock_guard lock(mutex_);
    return hungUp_;
}

bool KordelSim::WaitForHangUp(int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return hungUp_; });
}

}  // namespace kordel::sim
