package com.velmora.tessul;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertFalse;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.Callable;
import java.util.concurrent.ExecutorService;
import java.util.concurrent.Executors;
import java.util.concurrent.Future;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;
import org.junit.jupiter.params.ParameterizedTest;
import org.junit.jupiter.params.provider.CsvSource;

/** Parsing, matching and the life of one TessulClient. */
class TessulClientTest {
  private static final String LIST = String.join("\n",
      "! a comment",
      "||ads.example^",
      "@@||ads.example/allowed/",
      "/banner/*$image",
      "||tracker.example^$third-party");

  private TessulClient client;

  @BeforeEach
  void createClient() {
    client = new TessulClient();
  }

  @AfterEach
  void closeClient() {
    client.close();
  }

  @Test
  void matchesBlockingAndExceptionRules() {
    assertTrue(client.parse(LIST));
    assertTrue(client.matches("https://ads.example/a.js", TessulClient.SCRIPT, "news.example"));
    assertFalse(client.matches("https://ads.example/allowed/a.js", TessulClient.SCRIPT,
        "news.example"));
    assertFalse(client.matches("https://cdn.example/a.js", TessulClient.SCRIPT, "news.example"));
    // Only http, https, ws and wss URLs are filtered.
    assertFalse(client.matches("ftp://ads.example/a.js", TessulClient.SCRIPT, "news.example"));
  }

  private static void assertMatch(TessulClient.Match match, boolean blocked,
      String blockingRule, String exceptionRule) {
    assertEquals(blocked, match.blocked(), match.toString());
    assertEquals(blockingRule, match.blockingRule(), match.toString());
    assertEquals(exceptionRule, match.exceptionRule(), match.toString());
  }

  // match gives the answer of matches and the rules that decided, as list
  // text: the engine keeps no lines, so each is written from the rule.
  @Test
  void matchReportsTheRulesThatDecided() {
    assertTrue(client.parse(LIST + "\n||b\u00fccher.example^$s,~third-party"));
    String page = "news.example";
    int script = TessulClient.SCRIPT;
    assertMatch(client.match("https://ads.example/a.js", script, page), true,
        "||ads.example^", null);
    assertMatch(client.match("https://ads.example/allowed/a.js", script, page), false,
        "||ads.example^", "@@||ads.example/allowed/");
    assertMatch(client.match("https://cdn.example/banner/1.png", TessulClient.IMAGE, page),
        true, "/banner/*$image", null);
    assertMatch(client.match("https://tracker.example/t", TessulClient.PING, page), true,
        "||tracker.example^$third-party", null);
    assertMatch(client.match("https://b\u00fccher.example/", script, "b\u00fccher.example"),
        true, "||b\u00fccher.example^$script,~third-party", null);
    assertMatch(client.match("https://cdn.example/a.js", script, page), false, null, null);
    assertMatch(client.match("ftp://ads.example/a.js", script, page), false, null, null);
    assertEquals("allow ||ads.example^ cancelled by @@||ads.example/allowed/",
        client.match("https://ads.example/allowed/a.js", script, page).toString());
  }

  @Test
  void versionIsTheProjectVersion() {
    assertEquals(System.getProperty("tessul.version"), TessulClient.version());
  }

  @Test
  void requestTypeAndPartyRestrictRules() {
    client.parse(LIST);
    assertTrue(client.matches("https://cdn.example/banner/1.png", TessulClient.IMAGE, "a.example"));
    assertFalse(client.matches("https://cdn.example/banner/1.js", TessulClient.SCRIPT,
        "a.example"));
    // Without a party bit the party comes from the hosts.
    assertTrue(client.matches("https://tracker.example/t", TessulClient.PING, "news.example"));
    assertFalse(client.matches("https://tracker.example/t", TessulClient.PING,
        "tracker.example"));
    assertFalse(client.matches("https://tracker.example/t",
        TessulClient.PING | TessulClient.FIRST_PARTY, "news.example"));
  }

  // Each constant carries the bit of its option keyword: a rule restricted to
  // the keyword blocks a request of that type and no other.
  @ParameterizedTest
  @CsvSource({
      "script, SCRIPT", "image, IMAGE", "stylesheet, STYLESHEET", "object, OBJECT",
      "xmlhttprequest, XMLHTTPREQUEST", "object-subrequest, OBJECT_SUBREQUEST",
      "subdocument, SUBDOCUMENT", "document, DOCUMENT", "other, OTHER", "xbl, XBL",
      "ping, PING", "font, FONT", "media, MEDIA", "webrtc, WEBRTC", "websocket, WEBSOCKET"})
  void typeConstantsMatchTheirOptionKeywords(String keyword, String constant) throws Exception {
    int type = TessulClient.class.getField(constant).getInt(null);
    int otherType = type == TessulClient.OTHER ? TessulClient.IMAGE : TessulClient.OTHER;
    client.parse("||cdn.example^$" + keyword);
    String url = "https://cdn.example/file";
    assertTrue(client.matches(url, type, "cdn.example"));
    assertFalse(client.matches(url, otherType, "cdn.example"));
  }

  @Test
  void partyConstantsOverrideTheHosts() {
    client.parse("||cdn.example^$third-party");
    String url = "https://cdn.example/file";
    assertTrue(client.matches(url, TessulClient.IMAGE | TessulClient.THIRD_PARTY, "cdn.example"));
    assertFalse(client.matches(url, TessulClient.IMAGE | TessulClient.FIRST_PARTY, "a.example"));
  }

  @Test
  void secondParseKeepsTheFirstList() {
    client.parse("||first.example^");
    client.parse("||second.example^");
    assertTrue(client.matches("https://first.example/", TessulClient.SCRIPT, "a.example"));
    assertTrue(client.matches("https://second.example/", TessulClient.SCRIPT, "a.example"));
  }

  @Test
  void parseFileReadsAList(@TempDir Path dir) throws Exception {
    Path list = Files.writeString(dir.resolve("list.txt"), LIST);
    assertTrue(client.parseFile(list.toString()));
    assertTrue(client.matches("https://ads.example/a.js", TessulClient.SCRIPT, "news.example"));
  }

  @Test
  void nullStringsAnswerFalse() {
    client.parse(LIST);
    assertFalse(client.parse(null));
    assertFalse(client.parseFile(null));
    assertFalse(client.serialize(null));
    assertFalse(client.deserialize(null));
    assertFalse(client.matches(null, TessulClient.SCRIPT, "news.example"));
    assertFalse(client.matches("https://ads.example/a.js", TessulClient.SCRIPT, null));
    assertMatch(client.match(null, TessulClient.SCRIPT, "news.example"), false, null, null);
    assertMatch(client.match("https://ads.example/a.js", TessulClient.SCRIPT, null), false,
        null, null);
    // The rules are untouched.
    assertTrue(client.matches("https://ads.example/a.js", TessulClient.SCRIPT, "news.example"));
  }

  @Test
  void closedClientAnswersFalseAndWritesNothing(@TempDir Path dir) throws Exception {
    client.parse(LIST);
    Path image = dir.resolve("image.dat");
    assertTrue(client.serialize(image.toString()));
    Path list = Files.writeString(dir.resolve("list.txt"), LIST);
    client.close();

    assertFalse(client.matches("https://ads.example/a.js", TessulClient.SCRIPT, "news.example"));
    assertMatch(client.match("https://ads.example/a.js", TessulClient.SCRIPT, "news.example"),
        false, null, null);
    assertFalse(client.parse(LIST));
    assertFalse(client.parseFile(list.toString()));
    assertFalse(client.deserialize(image.toString()));
    Path notWritten = dir.resolve("closed.dat");
    assertFalse(client.serialize(notWritten.toString()));
    assertFalse(Files.exists(notWritten));
    client.close();  // and again in closeClient()
  }

  // One object shared by threads: matching while another thread keeps adding
  // lists. The added rules block nothing that the matchers ask about.
  @Test
  void oneObjectServesSeveralThreads() throws Exception {
    client.parse(LIST);
    ExecutorService pool = Executors.newFixedThreadPool(5);
    try {
      List<Callable<Boolean>> work = new ArrayList<>();
      for (int t = 0; t < 4; t++) {
        work.add(() -> {
          for (int i = 0; i < 2000; i++) {
            if (!client.matches("https://ads.example/" + i, TessulClient.SCRIPT, "a.example")
                || client.matches("https://ads.example/allowed/" + i, TessulClient.SCRIPT,
                    "a.example")) {
              return false;
            }
          }
          return true;
        });
      }
      work.add(() -> {
        for (int i = 0; i < 200; i++) {
          if (!client.parse("||added" + i + ".example^\n/path" + i + "/*$script")) return false;
        }
        return true;
      });
      for (Future<Boolean> result : pool.invokeAll(work)) assertTrue(result.get());
    } finally {
      pool.shutdown();
    }
    assertTrue(client.matches("https://added199.example/", TessulClient.SCRIPT, "a.example"));
  }
}
