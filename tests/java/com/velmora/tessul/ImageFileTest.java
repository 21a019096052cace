package com.velmora.tessul;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.Arrays;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** Engine images saved with serialize and loaded with deserialize. */
class ImageFileTest {
  private static final String URL_A = "https://a-ads.example/x.js";
  private static final String URL_B = "https://b-ads.example/x.js";

  @TempDir Path dir;

  private Path imageOf(String name, String list) {
    Path image = dir.resolve(name);
    try (TessulClient writer = new TessulClient()) {
      assertTrue(writer.parse(list));
      assertTrue(writer.serialize(image.toString()));
    }
    return image;
  }

  private static boolean blocks(TessulClient client, String url) {
    return client.matches(url, TessulClient.SCRIPT, "page.example");
  }

  // The answers of matches, and those of match with the rules as list text.
  private static List<String> answersOf(TessulClient client, List<Requests.Request> requests) {
    List<String> answers = new ArrayList<>();
    for (Requests.Request r : requests) {
      boolean blocked = client.matches(r.url(), r.options(), r.pageHost());
      TessulClient.Match match = client.match(r.url(), r.options(), r.pageHost());
      assertEquals(blocked, match.blocked(), r.url());
      assertEquals(blocked, match.blockingRule() != null && match.exceptionRule() == null,
          r.url());
      answers.add(match.toString());
    }
    return answers;
  }

  // The loaded rules read as the parsed ones: an image keeps what rule text
  // is written from.
  @Test
  void loadedImageAnswersRealRequestsAsTheParsedLists() {
    Path image = dir.resolve("bundled.dat");
    List<Requests.Request> requests = Requests.recorded();
    List<String> parsedAnswers;
    try (TessulClient parsed = new TessulClient()) {
      for (Path list : Requests.bundledLists()) assertTrue(parsed.parseFile(list.toString()));
      assertTrue(parsed.serialize(image.toString()));
      parsedAnswers = answersOf(parsed, requests);
    }
    List<String> loadedAnswers;
    try (TessulClient loaded = new TessulClient()) {
      assertTrue(loaded.deserialize(image.toString()));
      loadedAnswers = answersOf(loaded, requests);
    }
    assertEquals(parsedAnswers, loadedAnswers);
    long blocked = loadedAnswers.stream().filter(answer -> answer.startsWith("block")).count();
    assertTrue(blocked > 100, "blocked " + blocked);
    // Host-only rules, which image host sets keep, with their anchor and
    // options.
    assertTrue(loadedAnswers.contains(
        "block ||google-analytics.com^$script,xmlhttprequest,third-party"),
        String.join("\n", loadedAnswers));
  }

  @Test
  void secondImageReplacesTheFirst() {
    Path first = imageOf("a.dat", "||a-ads.example^");
    Path second = imageOf("b.dat", "||b-ads.example^");
    try (TessulClient client = new TessulClient()) {
      assertTrue(client.deserialize(first.toString()));
      assertTrue(blocks(client, URL_A));
      assertTrue(client.deserialize(second.toString()));
      assertFalse(blocks(client, URL_A));
      assertTrue(blocks(client, URL_B));
    }
  }

  @Test
  void imageRulesAndParsedRulesWorkTogether() {
    Path image = imageOf("a.dat", "||a-ads.example^");
    try (TessulClient client = new TessulClient()) {
      assertTrue(client.deserialize(image.toString()));
      assertTrue(client.parse("||b-ads.example^"));
      assertTrue(blocks(client, URL_A));
      assertTrue(blocks(client, URL_B));
    }
  }

  @Test
  void imageOfAnImageIsTheSame() throws Exception {
    Path image = imageOf("a.dat", "||a-ads.example^\n/banner/*$image\n@@||a-ads.example/ok/");
    Path copy = dir.resolve("copy.dat");
    try (TessulClient client = new TessulClient()) {
      assertTrue(client.deserialize(image.toString()));
      assertTrue(client.serialize(copy.toString()));
    }
    assertArrayEquals(Files.readAllBytes(image), Files.readAllBytes(copy));
  }

  // Every cut of an image fails to load without reading past the bytes of
  // the file, and leaves an engine that can still be asked and refilled.
  @Test
  void truncatedImagesFailSafely() throws Exception {
    byte[] whole = Files.readAllBytes(imageOf("whole.dat",
        "||a-ads.example^\n/banner/*$image\n@@||a-ads.example/ok/\n"
            + "||c.example^$domain=news.example\n##.ad"));
    Path cut = dir.resolve("cut.dat");
    try (TessulClient client = new TessulClient()) {
      for (int length = 1; length < whole.length; length += Math.max(1, whole.length / 64)) {
        Files.write(cut, Arrays.copyOf(whole, length));
        assertFalse(client.deserialize(cut.toString()), "cut at " + length);
        blocks(client, URL_A);
        blocks(client, "https://c.example/x.js");
      }
      Files.write(cut, whole);
      assertTrue(client.deserialize(cut.toString()));
      assertTrue(blocks(client, URL_A));
    }
  }

  // Files that are not whole images are refused, and the engine keeps the
  // rules it had: a damaged download must not silently stop the blocking.
  @Test
  void damagedImagesAreRefusedAndChangeNothing() throws Exception {
    byte[] good = Files.readAllBytes(imageOf("good.dat", "||b-ads.example^\n/banner/*$image"));
    byte[] noise = new byte[4096];
    new java.util.Random(13).nextBytes(noise);
    byte[] shiftedHost = good.clone();
    int host = new String(good, java.nio.charset.StandardCharsets.ISO_8859_1)
        .indexOf("b-ads.example^b-ads.example") + 14;
    shiftedHost[host] = 'c';  // the host set's record now lies in another bucket
    List<byte[]> damaged = List.of(
        new byte[100], new byte[1], noise, shiftedHost,
        concat(good, "garbage".getBytes(java.nio.charset.StandardCharsets.US_ASCII)),
        concat(good, good), Arrays.copyOf(good, good.length - 1));
    Path file = dir.resolve("damaged.dat");
    try (TessulClient client = new TessulClient()) {
      assertTrue(client.deserialize(imageOf("a.dat", "||a-ads.example^").toString()));
      for (byte[] bytes : damaged) {
        Files.write(file, bytes);
        assertFalse(client.deserialize(file.toString()), bytes.length + " bytes");
        assertTrue(blocks(client, URL_A));
        assertFalse(blocks(client, URL_B));
      }
      Files.write(file, good);
      assertTrue(client.deserialize(file.toString()));
      assertFalse(blocks(client, URL_A));
      assertTrue(blocks(client, URL_B));
    }
  }

  private static byte[] concat(byte[] first, byte[] second) {
    byte[] both = Arrays.copyOf(first, first.length + second.length);
    System.arraycopy(second, 0, both, first.length, second.length);
    return both;
  }
}
