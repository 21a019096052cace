package com.velmora.tessul;

import java.io.IOException;
import java.io.UncheckedIOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import java.util.Map;
import java.util.stream.Collectors;

/** The bundled filter lists and the recorded requests of the data directory. */
final class Requests {
  /** One recorded request: its URL, its type as option bits, and the page host. */
  record Request(String url, int options, String pageHost) {}

  private static final Map<String, Integer> TYPES = Map.ofEntries(
      Map.entry("script", TessulClient.SCRIPT),
      Map.entry("image", TessulClient.IMAGE),
      Map.entry("stylesheet", TessulClient.STYLESHEET),
      Map.entry("object", TessulClient.OBJECT),
      Map.entry("xmlhttprequest", TessulClient.XMLHTTPREQUEST),
      Map.entry("subdocument", TessulClient.SUBDOCUMENT),
      Map.entry("document", TessulClient.DOCUMENT),
      Map.entry("other", TessulClient.OTHER),
      Map.entry("ping", TessulClient.PING),
      Map.entry("font", TessulClient.FONT),
      Map.entry("media", TessulClient.MEDIA),
      Map.entry("websocket", TessulClient.WEBSOCKET));

  private Requests() {}

  static Path dataFile(String name) {
    return Path.of(System.getProperty("tessul.data.dir"), name);
  }

  /** The paths of EasyList and EasyPrivacy. */
  static List<Path> bundledLists() {
    return List.of(dataFile("easylist.txt"), dataFile("easyprivacy.txt"));
  }

  /** The requests of both request logs. */
  static List<Request> recorded() {
    return List.of("pageloads.tsv", "peer-dev.tsv").stream()
        .flatMap(name -> read(dataFile(name)).stream())
        .collect(Collectors.toList());
  }

  private static List<Request> read(Path file) {
    try {
      return Files.readAllLines(file).stream()
          .filter(line -> !line.isEmpty() && !line.startsWith("#"))
          .map(line -> line.split("\t", -1))
          .map(f -> new Request(f[0], typeOption(f[1]), f.length > 2 ? f[2] : ""))
          .collect(Collectors.toList());
    } catch (IOException e) {
      throw new UncheckedIOException(e);
    }
  }

  private static int typeOption(String keyword) {
    Integer option = TYPES.get(keyword);
    if (option == null) throw new IllegalArgumentException("unknown request type " + keyword);
    return option;
  }
}
