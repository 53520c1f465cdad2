#include "Flasher.h"

#include <memory>
#include <thread>

#include "CancelToken.h"
#include "Hints.h"

namespace kordel::cli {

namespace {

Outcome FlashPort(const FlashPlan& plan, std::size_t index, Reporter& reporter,
                  const TCancelToken& cancel) {
    const std::string& port = plan.ports[index];
    TComIo io;
    io.PortNameSource = [&port] { return port; };
    io.SetCancelToken(&cancel);
    if (plan.trace) {
        io.OnFrame = [&](TFrameDirection d, const std::uint8_t* data, std::size_t n) {
            reporter.Frame(index, d, data, n);
        };
    }
    TBootInfo bootInfo;
    for (int run = 1; run <= plan.repeat; ++run) {
        if (cancel.Reason() != 0) return Outcome::Cancelled;
        auto sink = reporter.SinkFor(index, run);
        TUpdateInput input{plan.image, plan.info, sink.get(), [&] { cancel.ThrowIfCancelled(); }};
        try {
            RunUpdate(io, input, bootInfo);
            reporter.Success(index, run);
            continue;
        } catch (const ECancelled& e) {
            // The port is closed before the message, so the module is free when the
            // user reads it; a failure to close adds nothing the user can act on now.
            try {
                io.DisConnect();
            } catch (const std::exception&) {
            }
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

Outcome FlashAll(const FlashPlan& plan, Reporter& reporter, const TCancelToken& cancelAll) {
    std::vector<std::unique_ptr<TCancelToken>> tokens;
    for (std::size_t i = 0; i < plan.ports.size(); ++i) {
        tokens.push_back(std::make_unique<TCancelToken>(&cancelAll));
    }
    std::vector<Outcome> outcomes(plan.ports.size(), Outcome::Ok);
    if (plan.ports.size() == 1) {
        outcomes[0] = FlashPort(plan, 0, reporter, *tokens[0]);
    } else {
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < plan.ports.size(); ++i) {
            threads.emplace_back(
                [&, i] { outcomes[i] = FlashPort(plan, i, reporter, *tokens[i]); });
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
