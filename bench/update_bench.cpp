// A whole update (identity, 4 erases, 486 blocks, End Update) against the simulated unit on a
// virtual device pair: the host's own overhead per update, with no MIDI wire in between.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "engine/updater_engine.h"
#include "sim/virtual_sim_unit.h"

namespace {

class SilentWindow : public IWindowOps {
  public:
    void RestoreControls() override {}
    void DisableControls() override {}
    void EnableExecute(bool) override {}
    void SetStatusText(const std::string&) override {}
    void SetStepText(const std::string&) override {}
    void SetProgressRange(std::int32_t, std::int32_t) override {}
    void SetProgressPos(std::int32_t) override {}
    void ShowErrorBox(const std::string&) override {}
};

void BM_WholeUpdateInProcess(benchmark::State& state) {
    setenv("RX300_MIDI", "virtual", 1);
    sim::CVirtualSimUnit unit("TAVO RX Series");
    SilentWindow window;
    EngineTimings timings;
    timings.afterBeginPauseMs = 0;  // the fixed pause would only add 500 ms to every figure
    CUpdaterEngine engine(window, timings);
    engine.Initialise();
    // As port discovery does: the device lists are read afresh by the count queries.
    engine.InPort().GetDeviceCount();
    engine.OutPort().GetDeviceCount();
    for (auto _ : state) {
        if (engine.Execute(0, 0) != rx::RunOutcome::kStarted || !engine.WaitForRunEnd() ||
            engine.LastOutcome() != rx::RunOutcome::kCompleted) {
            state.SkipWithError("the update did not complete");
            break;
        }
    }
    engine.Shutdown();
    state.counters["blocks"] = 486;
}
BENCHMARK(BM_WholeUpdateInProcess)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

}  // namespace
