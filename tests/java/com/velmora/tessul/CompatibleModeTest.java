package com.velmora.tessul;

import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The matching mode chosen from Java, and kept by images. */
class CompatibleModeTest {
  private static final String LIST = "/PageTracker.js\n||ads.example^$3p\n";

  @Test
  void eachModeReadsTheListItsWay(@TempDir Path directory) {
    try (TessulClient exact = new TessulClient(false);
        TessulClient compatible = new TessulClient(true)) {
      assertFalse(exact.isCompatible());
      assertTrue(compatible.isCompatible());
      assertTrue(exact.parse(LIST));
      assertTrue(compatible.parse(LIST));
      String url = "https://cdn.example/pagetracker.js";
      assertFalse(exact.matches(url, TessulClient.SCRIPT, "news.example"));
      assertTrue(compatible.matches(url, TessulClient.SCRIPT, "news.example"));
      assertTrue(compatible.matches("https://ads.example/x", TessulClient.SCRIPT,
          "news.example"));

      // An image brings its mode to the engine that loads it.
      Path image = directory.resolve("compatible.img");
      assertTrue(compatible.serialize(image.toString()));
      assertTrue(exact.deserialize(image.toString()));
      assertTrue(exact.isCompatible());
      assertTrue(exact.matches(url, TessulClient.SCRIPT, "news.example"));
    }
    TessulClient closed = new TessulClient(true);
    closed.close();
    assertFalse(closed.isCompatible());
  }
}
