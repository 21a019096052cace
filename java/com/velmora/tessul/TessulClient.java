package com.velmora.tessul;

import java.nio.charset.StandardCharsets;

/**
 * A URL filter engine: it takes ad-blocking and tracker-blocking filter lists
 * and answers, for each request an application is about to make, whether to
 * block it.
 *
 * <pre>{@code
 * try (TessulClient client = new TessulClient()) {
 *   client.parseFile("/data/easylist.txt");
 *   boolean blocked = client.matches("https://ads.example/ad.js",
 *       TessulClient.SCRIPT, "news.example");
 *   TessulClient.Match match = client.match("https://ads.example/ad.js",
 *       TessulClient.SCRIPT, "news.example");
 *   String rule = match.blockingRule();  // e.g. "||ads.example^"
 * }
 * }</pre>
 *
 * <p>Every method is synchronized, so one object may be shared by several
 * threads; calls on it then run one at a time. After {@link #close()} every
 * method returns false, and {@link #match} an answer that blocks nothing.
 * Failures to read or write files are written to the Android log under the
 * tag "tessul_client".
 */
public final class TessulClient implements AutoCloseable {
  /** Request type: a script. */
  public static final int SCRIPT = 0x1;
  /** Request type: an image. */
  public static final int IMAGE = 0x2;
  /** Request type: a style sheet. */
  public static final int STYLESHEET = 0x4;
  /** Request type: content handled by a browser plug-in. */
  public static final int OBJECT = 0x8;
  /** Request type: a request made by a script (XMLHttpRequest or fetch). */
  public static final int XMLHTTPREQUEST = 0x10;
  /** Request type: a request made by a browser plug-in. */
  public static final int OBJECT_SUBREQUEST = 0x20;
  /** Request type: a frame's document. */
  public static final int SUBDOCUMENT = 0x40;
  /** Request type: the page's own document. */
  public static final int DOCUMENT = 0x80;
  /** Request type: anything not covered by another type. */
  public static final int OTHER = 0x100;
  /** Request type: an XBL binding. */
  public static final int XBL = 0x200;
  /** The request goes to another site than the page's. */
  public static final int THIRD_PARTY = 0x2000;
  /** The request goes to the page's own site. */
  public static final int FIRST_PARTY = 0x4000;
  /** Request type: a ping or beacon. */
  public static final int PING = 0x8000;
  /** Request type: a font. */
  public static final int FONT = 0x80000;
  /** Request type: audio or video. */
  public static final int MEDIA = 0x100000;
  /** Request type: a WebRTC connection. */
  public static final int WEBRTC = 0x200000;
  /** Request type: a WebSocket connection. */
  public static final int WEBSOCKET = 0x2000000;

  static {
    System.loadLibrary("tessul");
  }

  /**
   * The answer for one request: whether it is blocked, and the rules that
   * decided, each as its line in the filter list. Rules loaded from an engine
   * image, which keeps no lines, are written as the list would have them.
   */
  public static final class Match {
    private static final Match NOTHING = new Match(false, null, null);

    private final boolean blocked;
    private final String blockingRule;
    private final String exceptionRule;

    // Made by the library, with the rules' texts as UTF-8 bytes.
    private Match(boolean blocked, byte[] blockingRule, byte[] exceptionRule) {
      this.blocked = blocked;
      this.blockingRule = textOf(blockingRule);
      this.exceptionRule = textOf(exceptionRule);
    }

    private static String textOf(byte[] rule) {
      return rule == null ? null : new String(rule, StandardCharsets.UTF_8);
    }

    /**
     * Whether the request is to be blocked.
     *
     * @return true when a blocking rule applies and no exception rule does
     */
    public boolean blocked() {
      return blocked;
    }

    /**
     * The blocking rule that applies to the request.
     *
     * @return the rule as list text, for example {@code "||ads.example^"};
     *     null when no blocking rule applies
     */
    public String blockingRule() {
      return blockingRule;
    }

    /**
     * The exception rule that cancels the blocking rule.
     *
     * @return the rule as list text, for example
     *     {@code "@@||ads.example/ok/$script"}; null when no blocking rule
     *     applies or no exception rule cancels it
     */
    public String exceptionRule() {
      return exceptionRule;
    }

    /**
     * The answer in words, for logs.
     *
     * @return "block" or "allow", then the rules that decided, if any
     */
    @Override
    public String toString() {
      StringBuilder text = new StringBuilder(blocked ? "block" : "allow");
      if (blockingRule != null) text.append(' ').append(blockingRule);
      if (exceptionRule != null) text.append(" cancelled by ").append(exceptionRule);
      return text.toString();
    }
  }

  /** The address of the native engine; 0 once closed. */
  private long nativeThis;

  /**
   * Creates an engine without rules.
   *
   * @throws OutOfMemoryError when the native engine cannot be allocated
   */
  public TessulClient() {
    init();
    if (nativeThis == 0) {
      throw new OutOfMemoryError("Cannot allocate the native filter engine");
    }
  }

  /**
   * Creates an engine without rules, in compatible mode or in exact mode
   * (the default). Compatible mode reads lists as mainstream blockers do:
   * letter case ignored unless {@code $match-case}, first- and third-party
   * by site (registrable domain), regex rules, uBlock Origin's option names,
   * {@code $important} and {@code $badfilter}. Loading an image gives the
   * engine the mode the image was made in.
   *
   * @param compatible true for compatible mode
   * @throws OutOfMemoryError when the native engine cannot be allocated
   */
  public TessulClient(boolean compatible) {
    initMode(compatible);
    if (nativeThis == 0) {
      throw new OutOfMemoryError("Cannot allocate the native filter engine");
    }
  }

  /**
   * Whether the engine is in compatible mode: as made, or as the last image
   * loaded says.
   *
   * @return false in exact mode and when closed
   */
  public synchronized native boolean isCompatible();

  /** Releases the native engine. Closing again does nothing. */
  @Override
  public synchronized void close() {
    deinit();
  }

  /**
   * Adds the rules of filter lists, one rule a line. A later call adds to the
   * rules already there.
   *
   * @param lists the text of one or more filter lists
   * @return false when closed or when lists is null
   */
  public synchronized native boolean parse(String lists);

  /**
   * Adds the rules of a filter list file, as {@link #parse(String)} does.
   *
   * @param path the file's path
   * @return false when closed, when path is null, or when the file cannot be
   *     read (logged)
   */
  public synchronized native boolean parseFile(String path);

  /**
   * Saves the rules that request matching uses to an engine image file,
   * which {@link #deserialize(String)} loads faster than lists are parsed.
   *
   * @param path the file's path; the file is created or replaced
   * @return false when closed, when path is null, or when the file cannot be
   *     written (logged)
   */
  public synchronized native boolean serialize(String path);

  /**
   * Replaces the engine's rules with those of an engine image file written by
   * {@link #serialize(String)}.
   *
   * @param path the file's path
   * <p>The image is loaded only when it is whole, exactly as serialize wrote
   * it; a damaged, cut or extended file is refused. Images carry no checksum,
   * so a changed letter inside a rule's text is not noticed: check files
   * that come over a network by their transport or a signature.
   *
   * @return false when closed or when path is null; false, logged and with
   *     the rules unchanged when the file cannot be read, is empty or is not
   *     a whole engine image (the log line says which check it failed)
   */
  public synchronized native boolean deserialize(String path);

  /**
   * Whether a request is to be blocked.
   *
   * @param url the URL of the request; only http, https, ws and wss URLs are
   *     ever blocked
   * @param options the request's type (for example {@link #SCRIPT}), and
   *     {@link #THIRD_PARTY} or {@link #FIRST_PARTY} when known; without
   *     either, the party is worked out from the URL's host and domain
   * @param domain the host of the page that makes the request; must not be
   *     null
   * @return true when a blocking rule applies and no exception rule does;
   *     false when closed or when url or domain is null
   */
  public synchronized native boolean matches(String url, int options, String domain);

  /**
   * Whether a request is to be blocked, and the rules that decided: the same
   * answer as {@link #matches(String, int, String)}, with its rules.
   *
   * @param url the URL of the request; only http, https, ws and wss URLs are
   *     ever blocked
   * @param options the request's type and party, as for {@link #matches}
   * @param domain the host of the page that makes the request; must not be
   *     null
   * @return the answer; one that blocks nothing and names no rule when
   *     closed or when url or domain is null
   */
  public synchronized Match match(String url, int options, String domain) {
    Match match = nativeMatch(url, options, domain);
    return match != null ? match : Match.NOTHING;
  }

  /**
   * The element-hiding selectors that apply on a page: the CSS selectors of
   * the elements that the lists' element-hiding rules hide there, each once,
   * in the order of the lists. Engine images written by {@link #serialize}
   * leave the element-hiding rules out, so an engine loaded from one hides
   * nothing; images compiled with {@code tessul compile --keep-cosmetic}
   * keep them, though not the {@code $elemhide} and {@code $generichide}
   * exception rules nor the rules of lines longer than 2,047 characters,
   * which only parsed lists give.
   *
   * @param pageUrl the URL of the page, or its host alone, which stands for
   *     {@code https://HOST/}
   * @return the selectors; none when closed or when pageUrl is null
   */
  public synchronized String[] hidingSelectors(String pageUrl) {
    byte[] lines = nativeHidingSelectors(pageUrl);
    if (lines == null || lines.length == 0) return new String[0];
    return new String(lines, StandardCharsets.UTF_8).split("\n", -1);
  }

  /**
   * A style sheet that hides what {@link #hidingSelectors} selects on a
   * page, ready to inject: rules of at most 1,000 selectors, each followed by
   * {@code { display: none !important; }}, one rule a line. Selectors holding
   * a brace, which would end a rule early, are left out.
   *
   * @param pageUrl the URL of the page, or its host alone
   * @return the style sheet; empty when nothing is hidden, when closed or
   *     when pageUrl is null
   */
  public synchronized String hidingStyleSheet(String pageUrl) {
    byte[] sheet = nativeHidingStyleSheet(pageUrl);
    return sheet == null ? "" : new String(sheet, StandardCharsets.UTF_8);
  }

  /**
   * The version of the native library that answers, the version of tessul
   * it was built from.
   *
   * @return the version, for example "1.2.3"
   */
  public static native String version();

  // Null when closed, for a null url or domain, and on failure (logged).
  private native Match nativeMatch(String url, int options, String domain);

  // The selectors one a line, and the style sheet, as UTF-8; null when
  // closed, for a null pageUrl, and on failure (logged).
  private native byte[] nativeHidingSelectors(String pageUrl);

  private native byte[] nativeHidingStyleSheet(String pageUrl);

  private native void init();

  private native void initMode(boolean compatible);

  private native void deinit();
}
