package com.velmora.tessul;

/** A TessulClient without the nativeThis field, which the library must refuse. */
final class TessulClient {
  private TessulClient() {}
}
