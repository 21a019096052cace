package com.velmora.tessul;

/**
 * Runs the TessulClient calls named on its command line on one object and
 * prints each result on a line of its own. Tests start it in a JVM of its own
 * to read what the library writes to stderr.
 *
 * <p>Calls: {@code parse TEXT}, {@code parseFile PATH}, {@code serialize
 * PATH}, {@code deserialize PATH}, {@code matches URL OPTIONS DOMAIN},
 * {@code match URL OPTIONS DOMAIN} (printed as Match.toString() does).
 */
final class NativeScript {
  private NativeScript() {}

  public static void main(String[] args) {
    try (TessulClient client = new TessulClient()) {
      int next = 0;
      while (next < args.length) {
        String call = args[next++];
        Object result = switch (call) {
          case "parse" -> client.parse(args[next++]);
          case "parseFile" -> client.parseFile(args[next++]);
          case "serialize" -> client.serialize(args[next++]);
          case "deserialize" -> client.deserialize(args[next++]);
          case "matches" -> client.matches(
              args[next++], Integer.parseInt(args[next++]), args[next++]);
          case "match" -> client.match(
              args[next++], Integer.parseInt(args[next++]), args[next++]);
          default -> throw new IllegalArgumentException("unknown call " + call);
        };
        System.out.println(result);
      }
    }
  }
}
