package com.velmora.tessul;

import static org.junit.jupiter.api.Assertions.assertArrayEquals;
import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;

import java.nio.file.Path;
import org.junit.jupiter.api.AfterEach;
import org.junit.jupiter.api.BeforeEach;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/** The element-hiding selectors of pages and their style sheets. */
class ElementHidingTest {
  private static final String LIST = String.join("\n",
      "###ad-carousel",
      "mail.google.com##.nH.PS",
      "dez.ro#@##ad-carousel",
      "b\u00fccher.example##.anzeige",
      "@@||gmail.com^$generichide");
  private static final String RULE_END = " { display: none !important; }\n";

  private TessulClient client;

  @BeforeEach
  void createClient() {
    client = new TessulClient();
    assertTrue(client.parse(LIST));
  }

  @AfterEach
  void closeClient() {
    client.close();
  }

  @Test
  void selectorsOfAPage() {
    assertArrayEquals(new String[] {"#ad-carousel", ".nH.PS"},
        client.hidingSelectors("https://mail.google.com/mail/u/0/"));
    assertArrayEquals(new String[] {"#ad-carousel"}, client.hidingSelectors("example.org"));
    assertArrayEquals(new String[0], client.hidingSelectors("www.dez.ro"));
    assertArrayEquals(new String[0], client.hidingSelectors("gmail.com"));
    assertArrayEquals(new String[] {"#ad-carousel", ".anzeige"},
        client.hidingSelectors("b\u00fccher.example"));
  }

  @Test
  void styleSheetOfAPage() {
    assertEquals("#ad-carousel,.nH.PS" + RULE_END, client.hidingStyleSheet("mail.google.com"));
    assertEquals("", client.hidingStyleSheet("www.dez.ro"));
  }

  @Test
  void nullPagesAndClosedClientsHideNothing() {
    assertArrayEquals(new String[0], client.hidingSelectors(null));
    assertEquals("", client.hidingStyleSheet(null));
    client.close();
    assertArrayEquals(new String[0], client.hidingSelectors("example.org"));
    assertEquals("", client.hidingStyleSheet("example.org"));
  }

  // The bridge's images leave the element-hiding rules out.
  @Test
  void imagesOfTheBridgeHideNothing(@TempDir Path dir) {
    String image = dir.resolve("image.dat").toString();
    assertTrue(client.serialize(image));
    assertTrue(client.deserialize(image));
    assertArrayEquals(new String[0], client.hidingSelectors("example.org"));
  }
}
