#include "Flasher.h"

#include <memory>
#include <stdexcept>
#include <thread>

#include "CancelToken.h"
#include "Hints.h"
#include "Pause.h"

namespace kordel::cli {

namespace {

// The result of one RunUpdate: how it ended and what the user is shown.
struct UpdateEnd {
    Outcome outcome = Outcome::Ok;
    std::string message = "Update OK";
    std::string hint;
};

// The module is to be left as it is; raised from the progress sink before any write.
class ESkipped : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Passes every report on, and asks the skip check once the CPU-ID is known.
class SkipGate : public TForwardingSink {
  public:
    SkipGate(TProgressSink* inner, const TSkipCheck* skip) : TForwardingSink(inner), skip_(skip) {}
    void CpuIdRead(const std::array<std::uint8_t, 12>& cpuId) override {
        TForwardingSink::CpuIdRead(cpuId);
        if (skip_ && *skip_) {
            if (auto message = (*skip_)(cpuId)) throw ESkipped(*message);
        }
    }

  private:
    const TSkipCheck* skip_;
};

UpdateEnd RunOneUpdate(TComIo& io, const TUpdateInput& input, TBootInfo& bootInfo,
                       const std::string& port) {
    try {
        RunUpdate(io, input, bootInfo);
        return {};
    } catch (const ESkipped& e) {
        // Nothing was written: the port is closed without the closing command, which
        // would restart the module.
        try {
            io.DisConnect();
        } catch (const std::exception&) {
        }
        return {Outcome::Skipped, e.what(), ""};
    } catch (const ECancelled& e) {
        // The port is closed before the message, so the module is free when the user
        // reads it; a failure to close adds nothing the user can act on now.
        try {
            io.DisConnect();
        } catch (const std::exception&) {
        }
        return {Outcome::Cancelled, e.what(), ""};
    } catch (const EComPort& e) {
        return {Outcome::Failed, e.what(), HintFor(e, port)};
    } catch (const std::exception& e) {
        return {Outcome::Failed, e.what(), ""};
    }
}

// Appends the record; false (and said) when it could not be written.
bool Record(const AttemptSetup& s, const TAuditRecord& record, Reporter& reporter) {
    if (s.plan.log == nullptr) return true;
    try {
        s.plan.log->Append(AuditLine(record));
        return true;
    } catch (const EAuditLog& e) {
        reporter.Note(s.index, "log", false,
                      std::string(e.what()) + "; this attempt is not in the log");
        return false;
    }
}

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
    TAuditRecord context = plan.log ? RecordContext(plan, index) : TAuditRecord{};
    context.port = port;
    TBootInfo bootInfo;
    for (int run = 1; run <= plan.repeat; ++run) {
        const Outcome outcome =
            RunWithRetries(io, bootInfo, {plan, index, run, 1, context, nullptr}, reporter);
        if (outcome != Outcome::Ok && outcome != Outcome::Skipped) return outcome;
    }
    return Outcome::Ok;
}

}  // namespace

Outcome RunWithRetries(TComIo& io, TBootInfo& bootInfo, const AttemptSetup& s,
                       Reporter& reporter) {
    const TCancelToken* cancel = io.CancelToken();
    for (int attempt = s.attempt;; ++attempt) {
        if (CancelReason(cancel) != 0) return Outcome::Cancelled;
        const AttemptEnd end = RunAttempt(
            io, bootInfo, {s.plan, s.index, s.run, attempt, s.context, s.skip}, reporter);
        // No attempt runs that the log would not hold.
        if (!end.recorded && end.outcome != Outcome::Cancelled) return Outcome::Failed;
        if (end.outcome != Outcome::Failed || attempt > s.plan.retries) return end.outcome;
        reporter.Retry(s.index, s.run, attempt + 1, s.plan.retries + 1, s.plan.retryDelayMs);
        if (!PauseMs(s.plan.retryDelayMs, cancel)) return Outcome::Cancelled;
    }
}

TAuditRecord RecordContext(const FlashPlan& plan, std::size_t index) {
    TAuditRecord context;
    context.station = plan.station;
    context.image = DescribeImage(plan.image, plan.info);
    context.port = plan.ports[index];
    if (index < plan.identities.size()) context.usb = UsbIdentityOf(plan.identities[index]);
    return context;
}

AttemptEnd RunAttempt(TComIo& io, TBootInfo& bootInfo, const AttemptSetup& s, Reporter& reporter) {
    auto sink = reporter.SinkFor(s.index, s.run);
    SkipGate gate(sink.get(), s.skip);
    TAuditRecord context = s.context;
    context.attempt = s.attempt;
    TAttemptRecorder recorder(std::move(context), &gate);
    const TCancelToken* cancel = io.CancelToken();
    const TUpdateInput input{s.plan.image, s.plan.info, &recorder, [cancel] {
                                 if (cancel) cancel->ThrowIfCancelled();
                             }};
    const UpdateEnd end = RunOneUpdate(io, input, bootInfo, s.context.port);
    const bool skipped = end.outcome == Outcome::Skipped;
    // A module left as it was holds the image an earlier attempt wrote: the attempt
    // did no harm, and its record says that it skipped.
    TAuditRecord record = recorder.Finish(end.outcome == Outcome::Ok || skipped, end.message);
    record.skipped = skipped;
    const bool recorded = Record(s, record, reporter);
    if (end.outcome == Outcome::Ok) {
        reporter.Success(s.index, s.run);
        return {Outcome::Ok, recorded};
    }
    if (skipped) {
        reporter.Skipped(s.index, s.run, end.message);
        return {Outcome::Skipped, recorded};
    }
    // Once the block writes have begun, the module holds part of the image.
    const bool partialImage =
        end.outcome == Outcome::Failed && record.step == TUpdateStep::Writing;
    reporter.Failure(s.index, s.run, end.message, end.hint, partialImage);
    if (end.outcome == Outcome::Failed) {
        try {
            io.DisConnect();
        } catch (const std::exception& e) {
            reporter.Failure(s.index, s.run, e.what(), "");
        }
    }
    return {end.outcome, recorded};
}

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
        if (o == Outcome::Failed) overall = Outcome::Failed;  // Skipped counts as done
    }
    return overall;
}

}  // namespace kordel::cli
