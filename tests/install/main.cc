#include <cstdio>

#include "engine/tessul_client.h"

int main() {
  tessul::TessulClient engine;
  engine.parse("||ads.example^\n@@||ads.example/allowed/\n");
  for (const char* url : {"https://ads.example/banner.js",
                          "https://ads.example/allowed/app.js"}) {
    const bool blocked = engine.matches(url, tessul::OptScript, "news.example");
    std::printf("%s %s\n", blocked ? "block" : "allow", url);
  }
}
