// Time the tool spends on one get_value round trip against the emulated unit with no
// modelled latency (request encoding, the USB transport and reply decoding), and on the
// drain that precedes every request.
#include <benchmark/benchmark.h>

#include "EFIS_shared/settings_types.h"
#include "comms/comms.h"
#include "emulator/hidapi/emulated_hidapi.h"

namespace {

void BM_GetValueRoundTrip(benchmark::State& state) {
    emu_hid::reset();
    emu_hid::set_latency_us(0);
    CommsManager comms;
    if (!comms.connectUSB(vendor_id, product_id)) {
        state.SkipWithError("emulated unit not reachable");
        return;
    }
    fwversion_t fw;
    fw.version = 0;
    if (get_serialnumber(&comms, USB_HID, &fw) == 0xFFFFFFFF) {
        state.SkipWithError("emulated unit did not identify");
        return;
    }
    uint32_t failures = 0;
    for (auto _ : state) {
        uint32_t value = 0;
        if (!get_value_checked(&comms, SETTINGS_COMMS, VNE_INDEX, &value)) {
            ++failures;
        }
        benchmark::DoNotOptimize(value);
    }
    if (failures != 0) {
        state.SkipWithError("get_value failed during the run");
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_GetValueRoundTrip)->Unit(benchmark::kMicrosecond);

// What every request, each flash data packet included, now pays up front when nothing stale
// is queued: one read of the link that does not wait.
void BM_DrainQuietLink(benchmark::State& state) {
    emu_hid::reset();
    CommsManager comms;
    if (!comms.connectUSB(vendor_id, product_id)) {
        state.SkipWithError("emulated unit not reachable");
        return;
    }
    int dropped = 0;
    for (auto _ : state) {
        dropped += drain_stale_frames(&comms);
    }
    if (dropped != 0) {
        state.SkipWithError("the quiet link delivered frames");
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_DrainQuietLink)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
