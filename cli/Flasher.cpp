#include "Flasher.h"

#include <cerrno>
#include <thread>

#include "Cancel.h"

namespace kordel::cli {

namespace {

Outcome FlashPort(const FlashPlan& plan, std::size_t index, Reporter& reporter) {
    const std::string& port = plan.ports[index];
    TComIo io;
    io.PortNameSource = [&port] { return port; };
    if (plan.trace) {
        io.OnFrame = [&](TFrameDirection d, const std::uint8_t* data, std::size_t n) {
            reporter.Frame(index, d, data, n);
        };
    }
    TBootInfo bootInfo;
    for (int run = 1; run <= plan.repeat; ++run) {
        if (CancelRequested()) return Outcome::Cancelled;
        auto sink = reporter.SinkFor(index, run);
        TUpdateInput input{plan.image, plan.info, sink.get(), [] { ThrowIfCancelled(); }};
        try {
            RunUpdate(io, input, bootInfo);
            reporter.Success(index, run);
            continue;
        } catch (const ECancelled& e) {
            io.DisConnect();
            reporter.Failure(index, run, e.what(), "");
            return Outcome::Cancelled;
        } catch (const EComPort& e) {
            reporter.Failure(index, run, e.what(), HintFor(e));
        } catch (const std::exception& e) {
            reporter.Failure(index, run, e.what(), "");
        }
        try {
            io.DisConnect();
        } catch (const std::exception& e) {
            reporter.Failure(index, run, e.what(), "");
        }
        return Outcome::Failed;
    }
    return Outcome::Ok;
}

}  // namespace

std::string HintFor(const EComPort& e) {
    switch (e.WinCode()) {
        case EACCES:
        case EPERM:
            return "permission denied: add your user to the dialout group "
                   "(sudo usermod -aG dialout $USER) and log in again";
        case EBUSY:
            return "device busy: another program holds the port";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return e.Code() == 1 ? "no such device: check the name, list the ports with --list"
                                 : "the device went away: was it unplugged?";
        case ENOTTY:
            return "not a serial port: check the name, list the ports with --list";
        case EIO:
            return "the device stopped answering the port: was it unplugged?";
        default:
            return "";
    }
}

Outcome FlashAll(const FlashPlan& plan, Reporter& reporter) {
    std::vector<Outcome> outcomes(plan.ports.size(), Outcome::Ok);
    if (plan.ports.size() == 1) {
        outcomes[0] = FlashPort(plan, 0, reporter);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < plan.ports.size(); ++i) {
            threads.emplace_back([&, i] { outcomes[i] = FlashPort(plan, i, reporter); });
        }
        for (auto& t : threads) t.join();
    }
    reporter.Finish();
    Outcome overall = Outcome::Ok;
    for (Outcome o : outcomes) {
        if (o == Outcome::Cancelled) return Outcome::Cancelled;
        if (o == Outcome::Failed) overall = Outcome::Failed;
    }
    return overall;
}

}  // namespace kordel::cli
