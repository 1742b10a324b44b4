// Messages per second through the library against raw syslog() with the same
// text, both going to the same real sink: a datagram socket at /dev/log that
// this program binds (in a private mount namespace) and drains.

#include <cstdio>

#include "BenchMessages.h"
#include "DevLogSink.h"
#include "common/RatioReporter.h"

int main(int argc, char** argv) {
  // Before any other thread exists: the mount namespace can only be made
  // private while the process has a single thread.
  zolk::DevLogSink sink;
  if (!sink.ok()) {
    std::fprintf(stderr,
                 "bench_zolksys_devlog: cannot bind /dev/log for this run (%s); not flooding "
                 "the host's system log, so nothing is measured\n",
                 sink.error().c_str());
    return 0;
  }
  std::printf("sink: datagram socket at /dev/log (%s)\n", sink.where());
  sink.StartDraining();

  zolkbench::RegisterAll();
  using zolkbench::Goal;
  zolkbench::Compare("lib_one_instance/real_time", "raw_syslog/real_time", 1.05);
  zolkbench::Compare("lib_alternating/real_time", "raw_syslog/real_time", 1.3);
  zolkbench::Report("lib_alternating/real_time", "raw_syslog_alternating/real_time");
  zolkbench::Report("lib_with_tid/real_time", "raw_syslog/real_time");
  zolkbench::Report("lib_one_instance/real_time/threads:2", "raw_syslog/real_time/threads:2");
  return zolkbench::RunAndCompare(argc, argv);
}
