package com.velmora.tessul;

import static org.junit.jupiter.api.Assertions.assertTrue;

import java.io.File;
import java.io.IOException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.util.ArrayList;
import java.util.List;
import java.util.concurrent.TimeUnit;
import java.util.regex.Matcher;
import java.util.regex.Pattern;

/** Runs a main class in a JVM of its own, with the library on its path. */
final class ChildJvm {
  /** What the child printed, line by line, and how it ended. */
  record Output(int exitCode, List<String> stdout, List<String> stderr) {}

  // liblog on Linux writes each entry to stderr as
  // "TAG PRIORITY MM-DD HH:MM:SS PID TID MESSAGE".
  private static final Pattern LOG_LINE = Pattern.compile(
      "tessul_client E \\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d +\\d+ +\\d+ (.*)");

  private ChildJvm() {}

  /** The class path of the library's Java class and of the tests. */
  static List<String> clientClassPath() {
    return List.of(System.getProperty("tessul.jar"), System.getProperty("tessul.tests.jar"));
  }

  static Output run(List<String> classPath, Class<?> mainClass, List<String> args)
      throws IOException, InterruptedException {
    List<String> command = new ArrayList<>(List.of(
        Path.of(System.getProperty("java.home"), "bin", "java").toString(), "-Xcheck:jni",
        "-Djava.library.path=" + System.getProperty("java.library.path"),
        "-cp", String.join(File.pathSeparator, classPath),
        mainClass.getName()));
    command.addAll(args);
    Path stdout = Files.createTempFile("tessul-child", ".out");
    Path stderr = Files.createTempFile("tessul-child", ".err");
    try {
      Process process = new ProcessBuilder(command)
          .redirectOutput(stdout.toFile())
          .redirectError(stderr.toFile())
          .start();
      assertTrue(process.waitFor(120, TimeUnit.SECONDS), "child JVM did not finish");
      return new Output(process.exitValue(), Files.readAllLines(stdout),
          Files.readAllLines(stderr));
    } finally {
      Files.delete(stdout);
      Files.delete(stderr);
    }
  }

  /** Runs NativeScript with the given calls; it must end normally. */
  static Output script(String... calls) throws IOException, InterruptedException {
    Output output = run(clientClassPath(), NativeScript.class, List.of(calls));
    assertTrue(output.exitCode() == 0, "child JVM failed: " + output);
    return output;
  }

  /** The messages of the library's log lines; any other stderr line fails. */
  static List<String> logMessages(Output output) {
    List<String> messages = new ArrayList<>();
    for (String line : output.stderr()) {
      Matcher match = LOG_LINE.matcher(line);
      assertTrue(match.matches(), "not a tessul_client error line: " + line);
      messages.add(match.group(1));
    }
    return messages;
  }
}
