#include "corvane_process.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <cstdlib>

namespace cvtest {

Corvane::Corvane(const std::vector<std::string>& args, const std::vector<std::string>& env)
    : mChild([&] {
          std::vector<std::string> all{lvtest::binary("corvane")};
          all.insert(all.end(), args.begin(), args.end());
          return all;
      }(),
             env, mDir / "stdout", mDir / "stderr") {}

Corvane::~Corvane() { signal(SIGKILL); }

int Corvane::waitForPort(double timeoutSeconds) {
    const std::string prefix = "corvane: listening on 127.0.0.1:";
    // Until the whole line is there, or corvane has ended without it.
    lvtest::waitFor([&] { return output().find('\n') != std::string::npos || !mChild.running(); }, timeoutSeconds);
    const std::string out = output();
    const int port = out.rfind(prefix, 0) == 0 ? std::atoi(out.c_str() + prefix.size()) : 0;
    if (port <= 0) ADD_FAILURE() << "corvane did not say where it listens; stdout: \"" << out << "\"; stderr: " << errors();
    return std::max(port, 0);
}

}  // namespace cvtest
