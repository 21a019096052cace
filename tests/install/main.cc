#include <cstdio>
#include <string_view>

#include "engine/tessul_client.h"

int main() {
  std::printf("tessul %s\n", tessul::version());
  tessul::TessulClient engine;
  // Notes on the list's lines, e.g. rules dropped for an unknown option.
  engine.setNoteSink([](int line, std::string_view message) {
    std::fprintf(stderr, "my-list:%d: %.*s\n", line,
                 static_cast<int>(message.size()), message.data());
  });
  engine.parse(
      "||ads.example^\n"
      "@@||ads.example/allowed/$script\n"
      "||tracker.example^$frobnicate\n");
  for (const char* url : {"https://ads.example/banner.js",
                          "https://ads.example/allowed/app.js"}) {
    tessul::Filter* rule = nullptr;
    tessul::Filter* exception = nullptr;
    const bool blocked = engine.matches(url, tessul::OptScript, "news.example",
                                        &rule, &exception);
    // The rule that decided, as it reads in the list.
    const tessul::Filter* decided = blocked ? rule : exception;
    std::printf("%s %s %s\n", blocked ? "block" : "allow", url,
                decided ? tessul::ruleText(*decided).c_str() : "-");
  }
}
