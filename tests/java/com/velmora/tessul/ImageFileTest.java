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
}
