// Poll benchmark (not a test): trees of data blocks polled by the channels'
// threads from the simulated controllers with no latency. For each
// configuration it prints the achieved poll rate against the configured one,
// the overrun count and the process CPU time.
//   config_poll_bench [seconds per configuration]
#include "Channel.h"
#include "DataBlock.h"
#include "Device.h"
#include "Driver.h"
#include "Duration.h"
#include "S7Library.h"
#include "../tests/config_values.h"
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

const int kChannels = 4, kDevicesPerChannel = 5;

using configtest::I2;
using configtest::I4;
using configtest::Set;
using configtest::Text;

// A counter's value (0 when it cannot be read).
LONG Get(CConfigObject &object, const char *name)
{
    VARIANT value;
    VariantInit(&value);
    LONG code = 0;
    object.GetProperty(name, &value, &code);
    LONG n = V_VT(&value) == VT_I4 ? V_I4(&value) : 0;
    VariantClear(&value);
    return n;
}

void WriteCatalogue()
{
    char dir[MAX_PATH];
    GetTempPathA(sizeof(dir), dir);
    std::string path = std::string(dir) + "config_poll_bench.cfg";
    FILE *f = fopen(path.c_str(), "w");
    fprintf(f, "cp CPBENCH\n");
    for (int c = 0; c < kChannels; ++c) {
        fprintf(f, "vfd CPBENCH VFD%d\n", c);
        for (int d = 0; d < kDevicesPerChannel; ++d)
            fprintf(f, "connection CPBENCH VFD%d PLC%d\n", c, d);
    }
    fclose(f);
    SetEnvironmentVariableA("S732_CONFIG", path.c_str());
}

double CpuSeconds()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME &t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// blocks spread evenly over devices (channels x devicesPerChannel), each
// polled every rateMs.
void Run(const char *label, int channels, int devicesPerChannel, int blocks, const char *rate,
         unsigned rateMs, unsigned seconds)
{
    std::unique_ptr<CDriver> driver(new CDriver("QOR", "QOR I/O Server", "bench"));
    std::vector<CDevice *> devices;
    for (int c = 0; c < channels; ++c) {
        CChannel *channel = new CChannel;
        Set(*channel, "Name", Text("Ch" + std::to_string(c)));
        Set(*channel, "PrimaryCPName", Text("CPBENCH"));
        Set(*channel, "PrimaryVFDName", Text("VFD" + std::to_string(c)));
        driver->AddChannel(channel);
        Set(*channel, "Enabled", I2(1));
        for (int d = 0; d < devicesPerChannel; ++d) {
            CDevice *device = new CDevice;
            Set(*device, "Name", Text("D" + std::to_string(c) + "_" + std::to_string(d)));
            Set(*device, "PrimaryConnName", Text("PLC" + std::to_string(d)));
            channel->AddDevice(device);
            Set(*device, "Enabled", I2(1));
            devices.push_back(device);
        }
    }
    for (int b = 0; b < blocks; ++b) {
        CDataBlock *block = new CDataBlock;
        CDevice *device = devices[size_t(b) % devices.size()];
        int slot = b / int(devices.size());
        Set(*block, "Name", Text("B" + std::to_string(b)));
        Set(*block, "StartAddress", Text("DB10," + std::to_string(slot * 8)));
        Set(*block, "Length", I4(4));
        Set(*block, "PrimaryPollTime", Text(rate));
        Set(*block, "AccessTime", Text(""));
        if (device->AddDataBlock(block) != 0) {
            delete block;
            continue;
        }
        Set(*block, "Enabled", I2(1));
    }
    if (driver->Start(true) != 0) {
        printf("%s: the driver did not start\n", label);
        return;
    }
    Sleep(1000);  // let every block make its first read
    Set(*driver, "MsgReceiveCount", I4(0));
    Set(*driver, "PollOverrunCount", I4(0));
    double cpu0 = CpuSeconds();
    DWORD t0 = GetTickCount();
    Sleep(seconds * 1000);
    LONG received = Get(*driver, "MsgReceiveCount");
    LONG overruns = Get(*driver, "PollOverrunCount");
    double elapsed = (GetTickCount() - t0) / 1000.0;
    double cpu = CpuSeconds() - cpu0;
    driver->Stop();
    double achieved = received / elapsed;
    if (rateMs) {
        double configured = blocks * 1000.0 / rateMs;
        printf("%-44s %9.1f reads/s of %9.1f (%5.1f %%), overruns %ld, CPU %5.1f %%\n", label, achieved,
               configured, 100.0 * achieved / configured, long(overruns), 100.0 * cpu / elapsed);
    } else {
        printf("%-44s %9.1f reads/s, overruns %ld, CPU %5.1f %%\n", label, achieved, long(overruns),
               100.0 * cpu / elapsed);
    }
    fflush(stdout);
}

}  // namespace

int main(int argc, char **argv)
{
    unsigned seconds = argc > 1 ? unsigned(atoi(argv[1])) : 5;
    if (seconds == 0)
        seconds = 5;
    DurationSeparators pinned;
    pinned.time = ":";
    pinned.decimal = ".";
    OverrideDurationSeparators(&pinned);
    WriteCatalogue();
    Run("(a) 1000 blocks at 1000 ms, 4 x 5 devices", kChannels, kDevicesPerChannel, 1000, "1", 1000, seconds);
    Run("(b) 100 blocks at 100 ms, 4 x 5 devices", kChannels, kDevicesPerChannel, 100, "0.1", 100, seconds);
    // Poll times are texts with at most tenths of a second: a block asks for
    // 10 ms by polling at 0, which the 10 ms device scan turns into one read
    // per scan pass.
    Run("(c) 1 block at 0 (10 ms scan) alone", 1, 1, 1, "0", 10, seconds);
    Run("(d) one device, 20 blocks at 0", 1, 1, 20, "0", 0, seconds);
    return 0;
}
