#include "Flasher.h"

#include <optional>
#include <thread>

#include "Cancel.h"
#include "Hints.h"

namespace kordel::cli {

namespace {

// Passes progress on and remembers the step the update has reached, so that a failure
// can tell whether the module already holds part of the image.
class StepWatch final : public TProgressSink {
  public:
    explicit StepWatch(std::unique_ptr<TProgressSink> inner) : inner_(std::move(inner)) {}
    void SetMaximum(std::uint32_t maximum) override { inner_->SetMaximum(maximum); }
    void SetPosition(std::uint32_t position) override { inner_->SetPosition(position); }
    void StepStarted(TUpdateStep step) override {
        step_ = step;
        inner_->StepStarted(step);
    }
    bool WritingBlocks() const { return step_ == TUpdateStep::Writing; }

  private:
    std::unique_ptr<TProgressSink> inner_;
    std::optional<TUpdateStep> step_;
};

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
        StepWatch sink(reporter.SinkFor(index, run));
        TUpdateInput input{plan.image, plan.info, &sink, [] { ThrowIfCancelled(); }};
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
            reporter.Failure(index, run, e.what(), HintFor(e, port), sink.WritingBlocks());
        } catch (const std::exception& e) {
            reporter.Failure(index, run, e.what(), "", sink.WritingBlocks());
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
