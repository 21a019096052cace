// ClientData: what one Java TessulClient object owns on the native side. The
// Java object keeps its address in the `long` field nativeThis.
#ifndef TESSUL_JNI_CLIENT_DATA_H_
#define TESSUL_JNI_CLIENT_DATA_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/tessul_client.h"

namespace tessul {

struct ClientData {
  explicit ClientData(MatchingMode mode = MatchingMode::kExact)
      : client(std::make_unique<TessulClient>(mode)) {}

  // Parses a filter list into the engine, keeping its text.
  bool parseList(std::string text) {
    listText = std::move(text);
    return client->parse(listText.c_str());
  }

  // Loads an engine image and keeps its bytes, which the loaded rules point
  // into. A refused image changes nothing, so the previous bytes, which the
  // engine's rules still point into, are kept then; after a load they are
  // released, once the engine has dropped the rules that pointed into them.
  // Moving the vector keeps its bytes where the engine read them. On
  // failure, *error (when given) receives the reason.
  bool loadImage(std::vector<char> image, std::string* error = nullptr) {
    if (!client->deserialize(image.data(), image.size(), error)) return false;
    imageData = std::move(image);
    return true;
  }

  // The text of the last filter list parsed. The engine copies what it keeps,
  // so this only has to outlive the parse.
  std::string listText;
  // The bytes of the last engine image loaded.
  std::vector<char> imageData;
  // Declared last so that it is destroyed first: its rules may point into
  // imageData.
  std::unique_ptr<TessulClient> client;
};

}  // namespace tessul

#endif  // TESSUL_JNI_CLIENT_DATA_H_
