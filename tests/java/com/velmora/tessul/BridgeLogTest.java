package com.velmora.tessul;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertTrue;
import static org.junit.jupiter.api.Assumptions.assumeTrue;

import java.io.RandomAccessFile;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.List;
import org.junit.jupiter.api.Test;
import org.junit.jupiter.api.io.TempDir;

/**
 * What the library writes to the Android log (stderr, on Linux) when files
 * fail, and how loading fails. Each case runs in a JVM of its own.
 */
class BridgeLogTest {
  private static final String RULE = "||ads.example^";
  private static final String AD = "https://ads.example/a.js";
  private static final String SCRIPT = String.valueOf(TessulClient.SCRIPT);
  private static final String READ_IMAGE = "Error while reading serialized data from file: ";
  private static final String WRITE_IMAGE = "Error while writing serialized data to file: ";
  private static final String READ_LIST = "Error while reading filter list file: ";

  @TempDir Path dir;

  private static void assertLogged(ChildJvm.Output output, String... messages) {
    assertEquals(List.of(messages), ChildJvm.logMessages(output));
  }

  @Test
  void successesLogNothing() throws Exception {
    Path list = Files.writeString(dir.resolve("list.txt"), RULE);
    String image = dir.resolve("image.dat").toString();
    ChildJvm.Output output = ChildJvm.script("parseFile", list.toString(), "serialize", image,
        "deserialize", image, "matches", AD, SCRIPT, "page.example",
        "match", AD, SCRIPT, "page.example");
    assertEquals(List.of("true", "true", "true", "true", "block " + RULE), output.stdout());
    assertLogged(output);
  }

  @Test
  void missingImageLogsOneLineAndKeepsTheRules() throws Exception {
    ChildJvm.Output output = ChildJvm.script("parse", RULE,
        "deserialize", dir.resolve("missing.dat").toString(), "matches", AD, SCRIPT, "p.example");
    assertEquals(List.of("true", "false", "true"), output.stdout());
    assertLogged(output, READ_IMAGE + "File read error: 2");
  }

  @Test
  void emptyImageLogsAndKeepsTheRules() throws Exception {
    Path empty = Files.createFile(dir.resolve("empty.dat"));
    ChildJvm.Output output = ChildJvm.script("parse", RULE,
        "deserialize", empty.toString(), "matches", AD, SCRIPT, "p.example");
    assertEquals(List.of("true", "false", "true"), output.stdout());
    assertLogged(output, READ_IMAGE + "Empty file");
  }

  @Test
  void damagedImageLogsWhyAndKeepsTheRules() throws Exception {
    Path zeros = Files.write(dir.resolve("zeros.dat"), new byte[100]);
    ChildJvm.Output output = ChildJvm.script("parse", RULE,
        "deserialize", zeros.toString(), "matches", AD, SCRIPT, "p.example");
    assertEquals(List.of("true", "false", "true"), output.stdout());
    assertLogged(output, READ_IMAGE + "Damaged engine image: header: not 20 lower-case "
        + "hexadecimal numbers, separated by commas and ended by a zero byte");
  }

  // An image file too large for memory: the allocation failure is caught
  // like any other read failure.
  @Test
  void imageTooLargeForMemoryLogsTheAllocationFailure() throws Exception {
    // tmpfs holds sparse files larger than any address space.
    Path shm = Path.of("/dev/shm");
    assumeTrue(Files.isDirectory(shm) && Files.isWritable(shm), "needs /dev/shm");
    Path huge = Files.createTempFile(shm, "tessul-huge", ".dat");
    try {
      try (RandomAccessFile file = new RandomAccessFile(huge.toFile(), "rw")) {
        file.setLength(1L << 50);
      }
      ChildJvm.Output output = ChildJvm.script("parse", RULE,
          "deserialize", huge.toString(), "matches", AD, SCRIPT, "p.example");
      assertEquals(List.of("true", "false", "true"), output.stdout());
      assertLogged(output, READ_IMAGE + "std::bad_alloc");
    } finally {
      Files.delete(huge);
    }
  }

  @Test
  void missingListFileLogs() throws Exception {
    ChildJvm.Output output = ChildJvm.script(
        "parseFile", dir.resolve("missing.txt").toString());
    assertEquals(List.of("false"), output.stdout());
    assertLogged(output, READ_LIST + "File read error: 2");
  }

  @Test
  void directoryAsListFileLogs() throws Exception {
    ChildJvm.Output output = ChildJvm.script("parseFile", dir.toString());
    assertEquals(List.of("false"), output.stdout());
    assertLogged(output, READ_LIST + "File read error: 21");
  }

  @Test
  void unwritableImageLogs() throws Exception {
    ChildJvm.Output output = ChildJvm.script("parse", RULE,
        "serialize", dir.resolve("no/such/dir/image.dat").toString());
    assertEquals(List.of("true", "false"), output.stdout());
    assertLogged(output, WRITE_IMAGE + "File write error: 2");
  }

  // A full disk is found when the written bytes are flushed, not on open.
  @Test
  void fullDiskFailsSerialize() throws Exception {
    assumeTrue(Files.isWritable(Path.of("/dev/full")), "needs /dev/full");
    ChildJvm.Output output = ChildJvm.script("parse", RULE, "serialize", "/dev/full");
    assertEquals(List.of("true", "false"), output.stdout());
    assertLogged(output, WRITE_IMAGE + "File write error: 28");
  }

  @Test
  void libraryLoadsNextToTheRealClass() throws Exception {
    ChildJvm.Output output = ChildJvm.run(ChildJvm.clientClassPath(), LoadProbe.class, List.of());
    assertEquals(List.of("loaded"), output.stdout());
  }

  // Without com.velmora.tessul.TessulClient, JNI_OnLoad refuses the load
  // instead of leaving natives without their field.
  @Test
  void loadIsRefusedWithoutTheClass() throws Exception {
    assertLoadRefused(List.of(System.getProperty("tessul.tests.jar")));
  }

  // A TessulClient class without the nativeThis field is refused too.
  @Test
  void loadIsRefusedWithoutTheField() throws Exception {
    assertLoadRefused(
        List.of(System.getProperty("tessul.stub.jar"), System.getProperty("tessul.tests.jar")));
  }

  private static void assertLoadRefused(List<String> classPath) throws Exception {
    ChildJvm.Output output = ChildJvm.run(classPath, LoadProbe.class, List.of());
    assertEquals(0, output.exitCode(), "the JVM survives: " + output);
    assertEquals(1, output.stdout().size(), output.toString());
    String result = output.stdout().get(0);
    assertTrue(result.startsWith("refused: ") && result.contains("JNI version"), result);
  }
}
