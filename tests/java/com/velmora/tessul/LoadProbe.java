package com.velmora.tessul;

/**
 * Loads the library without touching TessulClient and prints "loaded", or
 * "refused: " and the error. Started in a JVM of its own, next to whichever
 * TessulClient class (if any) the test puts on the class path.
 */
final class LoadProbe {
  private LoadProbe() {}

  public static void main(String[] args) {
    try {
      System.loadLibrary("tessul");
      System.out.println("loaded");
    } catch (UnsatisfiedLinkError e) {
      System.out.println("refused: " + e.getMessage());
    }
  }
}
