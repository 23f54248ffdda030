// "mpprecover serve": a local web server with one page and a JSON API,
// through which a planner drops a damaged file and sees what came back.
#pragma once

namespace serve {

// argv[0] is "serve"; returns the process's exit code.
int Main(int argc, char** argv);

// The page, with the placeholders __NONCE__ and __MAX_BYTES__.
extern const char kPageHtml[];

}  // namespace serve
