// kordel-usb-module: the simulated module behind a real USB CDC-ACM port, for the device
// lab. It is a USB device made with GadgetFS on a UDC (dummy_hcd in the lab): the host's
// cdc_acm driver sees a CDC-ACM port that offers line coding, the control lines and
// break. Bytes from the host go to a KordelSim on a pseudo-terminal and its replies go
// back; the line coding the host sets is applied to that terminal, so the simulator
// checks the line speed itself. Every class request (SET_LINE_CODING,
// SET_CONTROL_LINE_STATE, SEND_BREAK) and every chunk of data is written to a record
// with its time, for kordel-lab-check.
//
// A hang-up fault of the simulator becomes a real unplug: the module disconnects from
// the bus (it closes GadgetFS's controller file). Each time the host configures the
// device (each plug) a new simulator answers, with the fault rules the faults file holds then.
//
// With --ports N the device carries N such CDC-ACM functions (interfaces 2k and 2k+1),
// each with a simulator of its own: the host sees N ports of one USB device at once.
// GadgetFS takes a single device on a single controller, so this is the lab's way to
// have several modules with break present together.
//
// FunctionFS is no way to make this device: it refuses the CDC functional descriptors
// (type 0x24) that carry the break capability.
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "KordelSim.h"
#include "ByteOrder.h"
#include "LineSettingsLinux.h"

namespace {

using kordel::sim::KordelSim;
using Bytes = std::vector<std::uint8_t>;

// The endpoints of each function: dummy_hcd's endpoint names (GadgetFS names its files
// after them) and the addresses the descriptors give them.
struct FunctionEndpoints {
    const char* notifyName;
    std::uint8_t notify;
    const char* inName;
    std::uint8_t in;
    const char* outName;
    std::uint8_t out;
};
constexpr FunctionEndpoints Endpoints[] = {
    {"ep5in-int", 0x85, "ep1in-bulk", 0x81, "ep2out-bulk", 0x02},
    {"ep10in-int", 0x8A, "ep6in-bulk", 0x86, "ep7out-bulk", 0x07},
    {"ep15in-int", 0x8F, "ep11in-bulk", 0x8B, "ep12out-bulk", 0x0C},
    {"ep-bin", 0x83, "ep2in-bulk", 0x82, "ep1out-bulk", 0x01},
};
constexpr int MaxPorts = static_cast<int>(sizeof Endpoints / sizeof Endpoints[0]);
constexpr std::uint8_t CsInterface = 0x24;
constexpr std::uint8_t CdcCapLine = 0x02;
constexpr std::uint8_t CdcCapBreak = 0x04;
constexpr std::uint8_t SetLineCoding = 0x20;
constexpr std::uint8_t GetLineCoding = 0x21;
constexpr std::uint8_t SetControlLineState = 0x22;
constexpr std::uint8_t SendBreak = 0x23;

struct Options {
    std::string gadgetDir = "/dev/gadget";
    std::string record;
    std::string flashOut;
    std::string faultsFile;
    int ports = 1;
    bool realtime = false;
};

// Signals reach the main loop through a pipe: SIGTERM and SIGINT stop, SIGUSR1 writes the
// flash now, SIGHUP unplugs the device and SIGUSR2 plugs it in again. The relay writes
// UnplugByte when the simulator hung up.
constexpr char UnplugByte = 'U';
// Interrupts the relay's blocked endpoint I/O (its handler does nothing).
constexpr int InterruptSignal = SIGURG;
extern "C" void OnInterrupt(int) {}
volatile std::sig_atomic_t stopRequested = 0;
int signalPipe[2] = {-1, -1};
extern "C" void OnSignal(int signal) {
    if (signal == SIGTERM || signal == SIGINT) stopRequested = 1;
    const char c = static_cast<char>(signal);
    [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

// One line per event: microseconds on the monotonic clock, the event, its arguments.
class Record {
  public:
    explicit Record(const std::string& path) : file_(std::fopen(path.c_str(), "a")) {
        if (!file_) throw std::runtime_error("cannot write the record " + path);
    }
    ~Record() { std::fclose(file_); }
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3))) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        std::lock_guard lock(mutex_);
        std::fprintf(file_, "%lld ",
                     static_cast<long long>(
                         std::chrono::duration_cast<std::chrono::microseconds>(now).count()));
        va_list args;
        va_start(args, format);
        std::vfprintf(file_, format, args);
        va_end(args);
        std::fputc('\n', file_);
        std::fflush(file_);
    }
    void Data(const char* what, const std::uint8_t* data, std::size_t n, const char* tag) {
        std::string hex;
        char two[3];
        for (std::size_t i = 0; i < n; ++i) {
            std::snprintf(two, sizeof two, "%02X", data[i]);
            hex += two;
        }
        Line("%s %s%s", what, hex.c_str(), tag);
    }

  private:
    std::FILE* file_;
    std::mutex mutex_;
};

void Put16(Bytes& b, unsigned v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

Bytes Endpoint(std::uint8_t address, std::uint8_t type, unsigned maxPacket, std::uint8_t interval) {
    Bytes b = {USB_DT_ENDPOINT_SIZE, USB_DT_ENDPOINT, address, type};
    Put16(b, maxPacket);
    b.push_back(interval);
    return b;
}

Bytes NotifyEndpoint(std::uint8_t address, bool highSpeed) {
    return Endpoint(address, USB_ENDPOINT_XFER_INT, 16, highSpeed ? 9 : 32);
}
Bytes BulkEndpoint(std::uint8_t address, bool highSpeed) {
    return Endpoint(address, USB_ENDPOINT_XFER_BULK, highSpeed ? 512 : 64, 0);
}

// The configuration: per function a communication interface (header, call management,
// ACM with line coding and break, union; a notification endpoint) and a data interface.
Bytes Configuration(bool highSpeed, int ports) {
    Bytes body;
    for (int k = 0; k < ports; ++k) {
        const auto& e = Endpoints[k];
        const auto comm = static_cast<std::uint8_t>(2 * k), data = static_cast<std::uint8_t>(2 * k + 1);
        const Bytes interface = {9, USB_DT_INTERFACE, comm, 0, 1, USB_CLASS_COMM, 2, 1, 0};
        const Bytes functional = {5,    CsInterface, 0x00, 0x10,
                                  0x01,  // header, CDC 1.10
                                  5,    CsInterface, 0x01, 0x00,
                                  data,                                               // call management
                                  4,    CsInterface, 0x02, CdcCapLine | CdcCapBreak,  // ACM
                                  5,    CsInterface, 0x06, comm,
                                  data};  // union
        for (const Bytes& part :
             {interface, functional, NotifyEndpoint(e.notify, highSpeed),
              Bytes{9, USB_DT_INTERFACE, data, 0, 2, USB_CLASS_CDC_DATA, 0, 0, 0},
              BulkEndpoint(e.in, highSpeed), BulkEndpoint(e.out, highSpeed)}) {
            body.insert(body.end(), part.begin(), part.end());
        }
    }
    Bytes config = {USB_DT_CONFIG_SIZE, USB_DT_CONFIG};
    Put16(config, USB_DT_CONFIG_SIZE + static_cast<unsigned>(body.size()));
    const Bytes rest = {static_cast<std::uint8_t>(2 * ports), 1, 0,
                        USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER, 50};
    config.insert(config.end(), rest.begin(), rest.end());
    config.insert(config.end(), body.begin(), body.end());
    return config;
}

// GadgetFS's device set-up message: tag 0, the full- and high-speed configurations,
// the device descriptor. No strings: every string index is 0.
Bytes DeviceSetup(int ports) {
    Bytes b = {0, 0, 0, 0};
    for (bool hs : {false, true}) {
        const Bytes c = Configuration(hs, ports);
        b.insert(b.end(), c.begin(), c.end());
    }
    Bytes device = {USB_DT_DEVICE_SIZE, USB_DT_DEVICE};
    Put16(device, 0x0200);
    const Bytes classes = {USB_CLASS_COMM, 0, 0, 64};
    device.insert(device.end(), classes.begin(), classes.end());
    Put16(device, 0x1209);  // a test vendor and product that no driver has a quirk for
    Put16(device, 0x0001);
    Put16(device, 0x0100);
    const Bytes tail = {0, 0, 0, 1};
    device.insert(device.end(), tail.begin(), tail.end());
    b.insert(b.end(), device.begin(), device.end());
    return b;
}

std::vector<kordel::sim::FaultRule> ReadFaults(const std::string& path) {
    std::vector<kordel::sim::FaultRule> rules;
    if (path.empty()) return rules;
    std::ifstream in(path);
    std::string line, error;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        auto rule = kordel::sim::ParseFaultRule(line, error);
        if (!rule) throw std::runtime_error("bad fault rule '" + line + "': " + error);
        rules.push_back(*rule);
    }
    return rules;
}

void WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) throw std::runtime_error(std::string("write: ") + std::strerror(errno));
        data += w;
        n -= static_cast<std::size_t>(w);
    }
}

// The simulated module of one function and the terminal the relay talks to it through.
// Function k's module reports the default CPU-ID with k added to its last byte; with
// several functions its record lines end in " port=k" and its flash goes to FILE.k.
class Module {
  public:
    Module(const Options& options, Record& record, int index)
        : options_(options),
          record_(record),
          index_(index),
          tag_(options.ports > 1 ? " port=" + std::to_string(index) : std::string()) {}

    const char* Tag() const { return tag_.c_str(); }

    // A new simulator for each time the host configures the device (each plug), with the
    // fault rules the faults file holds now.
    void NewSimulator() {
        std::lock_guard lock(mutex_);
        if (slave_ >= 0) ::close(slave_);
        slave_ = -1;
        sim_.reset();
        kordel::sim::SimOptions o;
        o.faults = ReadFaults(options_.faultsFile);
        o.cpuId.back() = static_cast<std::uint8_t>(o.cpuId.back() + index_);
        sim_ = std::make_unique<KordelSim>(o);
        slave_ = ::open(sim_->SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (slave_ < 0) throw std::runtime_error("cannot open the simulator's terminal");
        ApplyLine();
        record_.Line("simulator %zu%s", o.faults.size(), Tag());
    }

    int Slave() {
        std::lock_guard lock(mutex_);
        return slave_;
    }

    // SET_LINE_CODING: dwDTERate, bCharFormat, bParityType, bDataBits.
    void SetLineCoding(const std::uint8_t (&coding)[7]) {
        std::lock_guard lock(mutex_);
        std::memcpy(coding_, coding, 7);
        ApplyLine();
    }
    void LineCoding(std::uint8_t (&out)[7]) {
        std::lock_guard lock(mutex_);
        std::memcpy(out, coding_, 7);
    }

    void WriteFlash() {
        if (options_.flashOut.empty()) return;
        std::lock_guard lock(mutex_);
        const Bytes flash = sim_ ? sim_->Flash() : Bytes{};
        const std::string path =
            options_.flashOut + (options_.ports > 1 ? "." + std::to_string(index_) : "");
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(flash.data()),
                  static_cast<std::streamsize>(flash.size()));
    }

  private:
    void ApplyLine() {
        if (slave_ < 0) return;
        kordel::TLineSettings s;
        s.baud = kordel::Le32(coding_);
        s.stopBits = coding_[4] == 2   ? kordel::TStopBits::sbTwoStopBits
                     : coding_[4] == 1 ? kordel::TStopBits::sbOne5StopBits
                                       : kordel::TStopBits::sbOneStopBit;
        static constexpr kordel::TParityBits parities[] = {
            kordel::TParityBits::prNone, kordel::TParityBits::prOdd, kordel::TParityBits::prEven,
            kordel::TParityBits::prMark, kordel::TParityBits::prSpace};
        s.parity = coding_[5] < 5 ? parities[coding_[5]] : kordel::TParityBits::prNone;
        s.dataBits = coding_[6];
        // A coding the terminal cannot take (1.5 stop bits) leaves it as it was; the
        // record holds what the host asked for.
        kordel::linux_tty::ApplyLineSettings(slave_, s);
    }

    const Options& options_;
    Record& record_;
    const int index_;
    const std::string tag_;
    std::mutex mutex_;
    std::unique_ptr<KordelSim> sim_;
    int slave_ = -1;
    std::uint8_t coding_[7] = {0x80, 0x25, 0, 0, 0, 0, 8};  // 9600 8N1
};

// Moves the data between the bulk endpoints and the simulator while configured.
class Relay {
  public:
    Relay(const Options& options, Record& record, Module& module, int index)
        : options_(options), record_(record), module_(module), index_(index) {}
    ~Relay() { Stop(); }

    void Start() {
        Stop();
        const auto& e = Endpoints[index_];
        notify_ = OpenEndpoint(e.notifyName, NotifyEndpoint(e.notify, false),
                               NotifyEndpoint(e.notify, true));
        in_ = OpenEndpoint(e.inName, BulkEndpoint(e.in, false), BulkEndpoint(e.in, true));
        out_ = OpenEndpoint(e.outName, BulkEndpoint(e.out, false), BulkEndpoint(e.out, true));
        wake_ = ::eventfd(0, EFD_CLOEXEC);
        stopping_ = false;
        running_ = 2;
        toModule_ = std::thread([this] {
            HostToModule();
            --running_;
        });
        toHost_ = std::thread([this] {
            ModuleToHost();
            --running_;
        });
    }

    // A thread blocked on an endpoint is interrupted by a signal: GadgetFS then cancels
    // its request. (Closing the controller's file first would wait for that request for
    // ever: the unbind takes the endpoint's lock, which the blocked read holds.)
    void Stop() {
        stopping_ = true;
        if (wake_ >= 0) {
            std::uint64_t one = 1;
            [[maybe_unused]] auto n = ::write(wake_, &one, sizeof one);
        }
        while (running_ > 0) {
            for (std::thread* t : {&toModule_, &toHost_}) {
                if (t->joinable()) ::pthread_kill(t->native_handle(), InterruptSignal);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (toModule_.joinable()) toModule_.join();
        if (toHost_.joinable()) toHost_.join();
        for (int* fd : {&notify_, &in_, &out_, &wake_}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }

  private:
    int OpenEndpoint(const char* name, const Bytes& fs, const Bytes& hs) {
        const std::string path = options_.gadgetDir + "/" + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
        Bytes config = {1, 0, 0, 0};
        config.insert(config.end(), fs.begin(), fs.end());
        config.insert(config.end(), hs.begin(), hs.end());
        if (::write(fd, config.data(), config.size()) < 0) {
            throw std::runtime_error("cannot configure " + path + ": " + std::strerror(errno));
        }
        return fd;
    }

    void HostToModule() {
        std::uint8_t buf[512];
        for (;;) {
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (stopping_) return;
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return;  // disconnected
            if (n == 0) continue;
            record_.Data("rx", buf, static_cast<std::size_t>(n), module_.Tag());
            const int slave = module_.Slave();
            if (slave >= 0) {
                try {
                    WriteAll(slave, buf, static_cast<std::size_t>(n));
                } catch (const std::exception&) {
                    // The simulator hung up; the other thread unplugs.
                }
            }
        }
    }

    void ModuleToHost() {
        std::uint8_t buf[512];
        for (;;) {
            const int slave = module_.Slave();
            pollfd p[2] = {{slave, POLLIN, 0}, {wake_, POLLIN, 0}};
            if (::poll(p, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (p[1].revents) return;
            const ssize_t n = ::read(slave, buf, sizeof buf);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                // The simulator hung up as an unplugged adapter would: so does the device.
                [[maybe_unused]] auto w = ::write(signalPipe[1], &UnplugByte, 1);
                return;
            }
            record_.Data("tx", buf, static_cast<std::size_t>(n), module_.Tag());
            if (::write(in_, buf, static_cast<std::size_t>(n)) < 0)
                return;  // disconnected or stopped
        }
    }

    const Options& options_;
    Record& record_;
    Module& module_;
    const int index_;
    int notify_ = -1, in_ = -1, out_ = -1, wake_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<int> running_{0};
    std::thread toModule_, toHost_;
};

class Device {
  public:
    explicit Device(const Options& options) : options_(options), record_(options.record) {
        for (int k = 0; k < options.ports; ++k) {
            modules_.push_back(std::make_unique<Module>(options, record_, k));
            relays_.push_back(std::make_unique<Relay>(options, record_, *modules_.back(), k));
        }
    }

    int Run() {
        Plug();
        record_.Line("ready");
        std::cout << "ready" << std::endl;
        while (!stopRequested) {
            // While unplugged ep0_ is -1, which poll() passes over.
            pollfd p[2] = {{ep0_, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
            if (::poll(p, 2, -1) < 0 && errno != EINTR) break;
            if (stopRequested) break;
            if (p[1].revents) {
                char c = 0;
                [[maybe_unused]] auto n = ::read(signalPipe[0], &c, 1);
                if (c == SIGUSR1) {
                    WriteFlash();
                    record_.Line("flash");
                } else if (c == SIGHUP || c == UnplugByte) {
                    Unplug();
                } else if (c == SIGUSR2) {
                    Plug();
                }
                continue;
            }
            if (p[0].revents & POLLHUP) {
                ReadEvents();  // reports the aborted request
                continue;
            }
            if (p[0].revents & POLLIN) ReadEvents();
        }
        WriteFlash();
        // Unplugged before the end: the exit would close the controller's file while the
        // relay may still wait on an endpoint, and hang.
        Unplug();
        record_.Line("exit");
        return 0;
    }

  private:
    void WriteFlash() {
        for (auto& m : modules_) m->WriteFlash();
    }
    void StopRelays() {
        for (auto& r : relays_) r->Stop();
    }

    // Opening the controller's file and writing the descriptors puts the device on the
    // bus; closing it takes it off, as pulling the plug does.
    void Plug() {
        if (ep0_ >= 0) return;
        ep0_ = OpenEp0();
        const Bytes setup = DeviceSetup(options_.ports);
        if (::write(ep0_, setup.data(), setup.size()) < 0) {
            throw std::runtime_error(std::string("the device set-up was refused: ") +
                                     std::strerror(errno));
        }
        record_.Line("plug");
    }

    // The relay stops first: the endpoints go with the device.
    void Unplug() {
        if (ep0_ < 0) return;
        record_.Line("unplug");
        StopRelays();
        ::close(ep0_);
        ep0_ = -1;
    }

    // GadgetFS names the controller's file after the controller.
    int OpenEp0() {
        const std::string path = options_.gadgetDir + "/dummy_udc";
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
        return fd;
    }

    void ReadEvents() {
        usb_gadgetfs_event events[5];
        const ssize_t n = ::read(ep0_, events, sizeof events);
        if (n < 0) return;
        for (std::size_t i = 0; i < static_cast<std::size_t>(n) / sizeof events[0]; ++i) {
            switch (events[i].type) {
                case GADGETFS_CONNECT:
                    record_.Line("connect %d", static_cast<int>(events[i].u.speed));
                    break;
                case GADGETFS_DISCONNECT:
                    record_.Line("disconnect");
                    StopRelays();
                    break;
                case GADGETFS_SETUP:
                    Setup(events[i].u.setup);
                    break;
                default:
                    break;
            }
        }
    }

    void Ack() { [[maybe_unused]] auto n = ::read(ep0_, nullptr, 0); }
    // A request the module does not know: an IN request or an OUT request without data
    // is stalled (I/O in the wrong direction); the data of an OUT request, which GadgetFS
    // cannot stall, is taken and dropped.
    void Refuse(const usb_ctrlrequest& r) {
        if (r.bRequestType & USB_DIR_IN) {
            [[maybe_unused]] auto n = ::read(ep0_, nullptr, 0);
        } else if (r.wLength == 0) {
            [[maybe_unused]] auto n = ::write(ep0_, nullptr, 0);
        } else {
            std::vector<std::uint8_t> data(r.wLength);
            [[maybe_unused]] auto n = ::read(ep0_, data.data(), data.size());
        }
    }

    void Setup(const usb_ctrlrequest& r) {
        const unsigned value = r.wValue;
        const unsigned type = r.bRequestType & USB_TYPE_MASK;
        if (type == USB_TYPE_STANDARD && r.bRequest == USB_REQ_SET_CONFIGURATION) {
            StopRelays();
            if (value != 0) {
                for (int k = 0; k < options_.ports; ++k) {
                    modules_[k]->NewSimulator();
                    relays_[k]->Start();
                }
            }
            record_.Line("configured %u", value);
            return Ack();
        }
        if (type == USB_TYPE_STANDARD && r.bRequest == USB_REQ_SET_INTERFACE) return Ack();
        if (type != USB_TYPE_CLASS) return Refuse(r);
        // A class request names the function's communication interface (2k) in wIndex.
        const unsigned function = (r.wIndex & 0xFF) / 2;
        if ((r.bRequestType & USB_RECIP_MASK) != USB_RECIP_INTERFACE ||
            function >= static_cast<unsigned>(options_.ports)) {
            return Refuse(r);
        }
        Module& module = *modules_[function];
        switch (r.bRequest) {
            case SetLineCoding: {
                std::uint8_t coding[7] = {};
                if (::read(ep0_, coding, sizeof coding) != sizeof coding) return;
                module.SetLineCoding(coding);
                const unsigned rate = kordel::Le32(coding);
                static const char* const stopBits[] = {"1", "1.5", "2", "?"};
                record_.Line("line %u %u %c %s%s", rate, coding[6],
                             "NOEMS?"[std::min<int>(coding[5], 5)],
                             stopBits[std::min<int>(coding[4], 3)], module.Tag());
                return;
            }
            case GetLineCoding: {
                std::uint8_t coding[7];
                module.LineCoding(coding);
                [[maybe_unused]] auto n = ::write(ep0_, coding, sizeof coding);
                return;
            }
            case SetControlLineState:
                record_.Line("control 0x%04X%s", value, module.Tag());
                return Ack();
            case SendBreak:
                record_.Line("break 0x%04X%s", value, module.Tag());
                return Ack();
            default:
                return Refuse(r);
        }
    }

    const Options& options_;
    Record record_;
    std::vector<std::unique_ptr<Module>> modules_;
    std::vector<std::unique_ptr<Relay>> relays_;
    int ep0_ = -1;
};

const char* const Usage = R"(Usage: kordel-usb-module --record FILE [OPTIONS]
The simulated module behind a USB CDC-ACM port with break, made with GadgetFS (mounted
at --gadget, /dev/gadget by default) on the dummy_hcd controller. Prints "ready" once
the device is on the bus; runs until SIGTERM or SIGINT, then writes the flash. SIGUSR1
writes the flash now, SIGHUP unplugs the device, SIGUSR2 plugs it in again.

Options:
  --gadget DIR       where GadgetFS is mounted
  --record FILE      append every class request and data chunk with its time
  --flash-out FILE   write the simulator's flash at the end
  --faults FILE      fault rules (kordel-sim's --fault syntax, one a line) for each new
                     simulator: read at start and whenever the device comes back
  --realtime         run at real-time priority (SCHED_FIFO), as a device's own
                     controller answers at once: see below
  --ports N          N CDC-ACM functions (1 to 4) in the device, each its own module:
                     function k's CPU-ID ends in 0x33 + k, its record lines in
                     " port=k", and its flash goes to the --flash-out FILE.k
  -h, --help         show this help

GadgetFS with dummy_hcd ends an OUT control transfer with data (SET_LINE_CODING) as
soon as the data has moved, before this program has read it; a class request of
another port that arrives before that read aborts it (EIDRM) and the module loses
track of the control endpoint for the host's 5 s time-out. --realtime closes that
window on the lab's one processor.
)";

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << Usage;
            return 0;
        }
        if (arg == "--realtime") {
            options.realtime = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "kordel-usb-module: " << arg << " needs a value\n" << Usage;
            return 2;
        }
        const std::string value = argv[++i];
        if (arg == "--gadget") {
            options.gadgetDir = value;
        } else if (arg == "--record") {
            options.record = value;
        } else if (arg == "--flash-out") {
            options.flashOut = value;
        } else if (arg == "--faults") {
            options.faultsFile = value;
        } else if (arg == "--ports") {
            options.ports = std::atoi(value.c_str());
            if (options.ports < 1 || options.ports > MaxPorts) {
                std::cerr << "kordel-usb-module: --ports takes 1 to " << MaxPorts << '\n';
                return 2;
            }
        } else {
            std::cerr << "kordel-usb-module: unknown option " << arg << '\n' << Usage;
            return 2;
        }
    }
    if (options.record.empty()) {
        std::cerr << Usage;
        return 2;
    }
    if (::pipe2(signalPipe, O_CLOEXEC) != 0) return 1;
    if (options.realtime) {
        // Every thread started later (relays, simulators) inherits the policy.
        sched_param param{};
        param.sched_priority = 10;
        if (::sched_setscheduler(0, SCHED_FIFO, &param) != 0) {
            std::cerr << "kordel-usb-module: cannot run at real-time priority: "
                      << std::strerror(errno) << '\n';
            return 1;
        }
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGUSR1, OnSignal);
    std::signal(SIGUSR2, OnSignal);
    std::signal(SIGHUP, OnSignal);
    struct sigaction interrupt {};
    interrupt.sa_handler = OnInterrupt;  // no SA_RESTART: blocked I/O returns EINTR
    ::sigaction(InterruptSignal, &interrupt, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        // Left undestroyed: its relay threads may be blocked on endpoints of a host that
        // is gone, and the process ends here anyway.
        auto* device = new Device(options);
        const int code = device->Run();
        std::cout.flush();
        std::_Exit(code);
    } catch (const std::exception& e) {
        std::cerr << "kordel-usb-module: " << e.what() << '\n';
        return 1;
    }
}
