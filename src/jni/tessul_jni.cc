// The Java bridge: the native methods of com.velmora.tessul.TessulClient.
//
// Each Java object owns one ClientData, whose address it keeps in its long
// field nativeThis (0 before init and after deinit). The Java class calls
// every native method under the object's lock, so one holder is never used by
// two threads at once.
//
// No C++ exception may reach the JVM: every entry point catches, writes the
// failure to the Android log and answers false (null for nativeMatch). A
// holder of 0 or a null Java string also answers false (null).

#include <android/log.h>
#include <jni.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "filter/filter.h"
#include "jni/client_data.h"
#include "jni/file_helpers.h"
#include "tessul_version.h"

namespace {

using tessul::ClientData;

constexpr char kClassName[] = "com/velmora/tessul/TessulClient";
constexpr char kMatchClassName[] = "com/velmora/tessul/TessulClient$Match";
// Match(boolean blocked, byte[] blockingRule, byte[] exceptionRule)
constexpr char kMatchConstructor[] = "(Z[B[B)V";
constexpr char kLogTag[] = "tessul_client";
constexpr char kReadListError[] = "Error while reading filter list file: %s";
constexpr char kReadImageError[] =
    "Error while reading serialized data from file: %s";
constexpr char kWriteImageError[] =
    "Error while writing serialized data to file: %s";
constexpr char kEmptyImageMessage[] = "Empty file";
constexpr char kDamagedImagePrefix[] = "Damaged engine image: ";

// Written once by JNI_OnLoad, before any native method can run. The class
// stays referenced for as long as the library is loaded.
jfieldID nativeThisField = nullptr;
jclass matchClass = nullptr;
jmethodID matchConstructor = nullptr;

// `format` has exactly one %s, which receives `message`.
void logError(const char* format, const char* message) {
  __android_log_print(ANDROID_LOG_ERROR, kLogTag, format, message);
}

// The modified UTF-8 bytes of a Java string, given back when this goes out of
// scope. get() is null for a null string, or when the JVM could not provide
// the bytes (it then has an OutOfMemoryError pending for the caller).
class JavaChars {
 public:
  JavaChars(JNIEnv* env, jstring text)
      : env_(env),
        text_(text),
        chars_(text == nullptr ? nullptr
                               : env->GetStringUTFChars(text, nullptr)) {}
  ~JavaChars() {
    if (chars_ != nullptr) env_->ReleaseStringUTFChars(text_, chars_);
  }
  JavaChars(const JavaChars&) = delete;
  JavaChars& operator=(const JavaChars&) = delete;

  const char* get() const { return chars_; }

 private:
  JNIEnv* const env_;
  const jstring text_;
  const char* const chars_;
};

ClientData* holderOf(JNIEnv* env, jobject self) {
  const jlong address = env->GetLongField(self, nativeThisField);
  return reinterpret_cast<ClientData*>(static_cast<uintptr_t>(address));
}

void setHolder(JNIEnv* env, jobject self, ClientData* holder) {
  env->SetLongField(self, nativeThisField,
                    static_cast<jlong>(reinterpret_cast<uintptr_t>(holder)));
}

// The message of the exception being handled; call only inside a catch.
const char* currentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();  // the exception lives on in the caller's handler
  } catch (...) {
    return "unknown exception";
  }
}

// Runs the body of a native method; an exception of any kind becomes a log
// line and the answer `failure`.
template <typename Result, typename Body>
Result guardedOr(Result failure, const char* method, Body body) {
  try {
    return body();
  } catch (...) {
    __android_log_print(ANDROID_LOG_ERROR, kLogTag, "Error in %s: %s", method,
                        currentExceptionMessage());
    return failure;
  }
}

template <typename Body>
jboolean guarded(const char* method, Body body) {
  return guardedOr<jboolean>(JNI_FALSE, method, [&]() -> jboolean {
    return body() ? JNI_TRUE : JNI_FALSE;
  });
}

// `text` in a new Java byte array. Throws std::bad_alloc, leaving an
// OutOfMemoryError pending, when the JVM has no room for it.
jbyteArray javaBytes(JNIEnv* env, std::string_view text) {
  jbyteArray bytes = env->NewByteArray(static_cast<jsize>(text.size()));
  if (bytes == nullptr) throw std::bad_alloc();
  env->SetByteArrayRegion(bytes, 0, static_cast<jsize>(text.size()),
                          reinterpret_cast<const jbyte*>(text.data()));
  return bytes;
}

// The rule as list text (the Java side decodes it as UTF-8: rule text is
// bytes, not always modified UTF-8); null for no rule.
jbyteArray ruleBytes(JNIEnv* env, const tessul::Filter* rule) {
  if (rule == nullptr) return nullptr;
  return javaBytes(env, tessul::ruleText(*rule));
}

// What `write` makes of the element-hiding selectors of a page, as UTF-8
// bytes like rules; null when closed or for a null page.
template <typename Write>
jbyteArray hidingBytes(JNIEnv* env, jobject self, jstring pageUrl,
                       Write write) {
  ClientData* holder = holderOf(env, self);
  JavaChars page(env, pageUrl);
  if (holder == nullptr || page.get() == nullptr) return nullptr;
  return javaBytes(env, write(holder->client->hidingSelectors(page.get())));
}

// Looks up the class and field identifiers of the bridge; false, with the
// JVM's error pending, when one is missing.
bool findIdentifiers(JNIEnv* env) {
  jclass type = env->FindClass(kClassName);
  if (type == nullptr) return false;
  nativeThisField = env->GetFieldID(type, "nativeThis", "J");
  env->DeleteLocalRef(type);
  if (nativeThisField == nullptr) return false;
  jclass match = env->FindClass(kMatchClassName);
  if (match == nullptr) return false;
  matchClass = static_cast<jclass>(env->NewGlobalRef(match));
  env->DeleteLocalRef(match);
  if (matchClass == nullptr) return false;
  matchConstructor = env->GetMethodID(matchClass, "<init>", kMatchConstructor);
  return matchConstructor != nullptr;
}

// Runs a file operation; its failure becomes a log line with `format` and
// false.
template <typename Operation>
bool fileOperationSucceeds(const char* format, Operation operation) {
  try {
    operation();
    return true;
  } catch (const std::exception& e) {
    logError(format, e.what());
    return false;
  }
}

}  // namespace

extern "C" {

// Looks up the field that holds each object's holder, and the class of the
// answers of nativeMatch. Refusing the load (-1) makes System.loadLibrary
// throw rather than leave native methods that would read through an unknown
// field.
JNIEXPORT jint JNICALL JNI_OnLoad(JavaVM* vm, void* /*reserved*/) {
  JNIEnv* env = nullptr;
  if (vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) != JNI_OK) {
    return -1;
  }
  if (!findIdentifiers(env)) {
    // FindClass, GetFieldID or GetMethodID left a NoClassDefFoundError,
    // NoSuchFieldError or NoSuchMethodError pending; the load fails with its
    // own error instead.
    env->ExceptionClear();
    return -1;
  }
  return JNI_VERSION_1_6;
}

JNIEXPORT void JNICALL Java_com_velmora_tessul_TessulClient_init(JNIEnv* env,
                                                                jobject self) {
  // On failure nativeThis stays 0, which the Java constructor reports.
  guarded("init", [&] {
    setHolder(env, self, new ClientData);
    return true;
  });
}

JNIEXPORT void JNICALL Java_com_velmora_tessul_TessulClient_initMode(
    JNIEnv* env, jobject self, jboolean compatible) {
  guarded("initMode", [&] {
    setHolder(env, self,
              new ClientData(compatible ? tessul::MatchingMode::kCompatible
                                        : tessul::MatchingMode::kExact));
    return true;
  });
}

JNIEXPORT jboolean JNICALL Java_com_velmora_tessul_TessulClient_isCompatible(
    JNIEnv* env, jobject self) {
  ClientData* holder = holderOf(env, self);
  return holder != nullptr &&
         holder->client->matchingMode() == tessul::MatchingMode::kCompatible;
}

JNIEXPORT void JNICALL
Java_com_velmora_tessul_TessulClient_deinit(JNIEnv* env, jobject self) {
  // The field is zeroed before the holder goes, so that later calls find 0
  // and answer false instead of using freed memory.
  std::unique_ptr<ClientData> holder(holderOf(env, self));
  setHolder(env, self, nullptr);
}

JNIEXPORT jboolean JNICALL Java_com_velmora_tessul_TessulClient_parse(
    JNIEnv* env, jobject self, jstring lists) {
  return guarded("parse", [&] {
    ClientData* holder = holderOf(env, self);
    JavaChars text(env, lists);
    if (holder == nullptr || text.get() == nullptr) return false;
    return holder->parseList(text.get());
  });
}

JNIEXPORT jboolean JNICALL Java_com_velmora_tessul_TessulClient_parseFile(
    JNIEnv* env, jobject self, jstring path) {
  return guarded("parseFile", [&] {
    ClientData* holder = holderOf(env, self);
    JavaChars file(env, path);
    if (holder == nullptr || file.get() == nullptr) return false;
    std::string text;
    if (!fileOperationSucceeds(kReadListError, [&] {
          text = tessul::getFileContents(file.get());
        })) {
      return false;
    }
    return holder->parseList(std::move(text));
  });
}

JNIEXPORT jboolean JNICALL Java_com_velmora_tessul_TessulClient_serialize(
    JNIEnv* env, jobject self, jstring path) {
  return guarded("serialize", [&] {
    ClientData* holder = holderOf(env, self);
    JavaChars file(env, path);
    if (holder == nullptr || file.get() == nullptr) return false;
    // Request matching never uses element-hiding or HTML rules.
    int size = 0;
    std::unique_ptr<char[]> image(holder->client->serialize(&size, true, true));
    return fileOperationSucceeds(kWriteImageError, [&] {
      tessul::writeFile(file.get(), image.get(), size);
    });
  });
}

JNIEXPORT jboolean JNICALL Java_com_velmora_tessul_TessulClient_deserialize(
    JNIEnv* env, jobject self, jstring path) {
  return guarded("deserialize", [&] {
    ClientData* holder = holderOf(env, self);
    JavaChars file(env, path);
    if (holder == nullptr || file.get() == nullptr) return false;
    std::vector<char> image;
    if (!fileOperationSucceeds(kReadImageError, [&] {
          image = tessul::getFileContent(file.get());
        })) {
      return false;
    }
    // No image at all: keep the engine as it is rather than clear it.
    if (image.empty()) {
      logError(kReadImageError, kEmptyImageMessage);
      return false;
    }
    // A damaged image leaves the engine as it was, and the log says why.
    std::string reason;
    if (!holder->loadImage(std::move(image), &reason)) {
      logError(kReadImageError, (kDamagedImagePrefix + reason).c_str());
      return false;
    }
    return true;
  });
}

JNIEXPORT jboolean JNICALL Java_com_velmora_tessul_TessulClient_matches(
    JNIEnv* env, jobject self, jstring url, jint options, jstring domain) {
  return guarded("matches", [&] {
    ClientData* holder = holderOf(env, self);
    JavaChars urlChars(env, url);
    // With an OutOfMemoryError pending, the JVM may not be asked for more.
    if (holder == nullptr || urlChars.get() == nullptr) return false;
    JavaChars domainChars(env, domain);
    if (domainChars.get() == nullptr) return false;
    return holder->client->matches(
        urlChars.get(), static_cast<tessul::FilterOption>(options),
        domainChars.get());
  });
}

JNIEXPORT jobject JNICALL Java_com_velmora_tessul_TessulClient_nativeMatch(
    JNIEnv* env, jobject self, jstring url, jint options, jstring domain) {
  return guardedOr<jobject>(nullptr, "match", [&]() -> jobject {
    ClientData* holder = holderOf(env, self);
    JavaChars urlChars(env, url);
    if (holder == nullptr || urlChars.get() == nullptr) return nullptr;
    JavaChars domainChars(env, domain);
    if (domainChars.get() == nullptr) return nullptr;
    tessul::Filter* rule = nullptr;
    tessul::Filter* exception = nullptr;
    const bool blocked = holder->client->matches(
        urlChars.get(), static_cast<tessul::FilterOption>(options),
        domainChars.get(), &rule, &exception);
    jbyteArray blockingText = ruleBytes(env, rule);
    jbyteArray exceptionText = ruleBytes(env, exception);
    return env->NewObject(matchClass, matchConstructor,
                          blocked ? JNI_TRUE : JNI_FALSE, blockingText,
                          exceptionText);
  });
}

// The selectors one a line: a selector never holds a line end.
JNIEXPORT jbyteArray JNICALL
Java_com_velmora_tessul_TessulClient_nativeHidingSelectors(JNIEnv* env,
                                                           jobject self,
                                                           jstring pageUrl) {
  return guardedOr<jbyteArray>(nullptr, "hidingSelectors", [&] {
    return hidingBytes(env, self, pageUrl,
                       [](const std::vector<std::string_view>& selectors) {
                         std::string lines;
                         for (std::string_view selector : selectors) {
                           if (!lines.empty()) lines += '\n';
                           lines += selector;
                         }
                         return lines;
                       });
  });
}

JNIEXPORT jbyteArray JNICALL
Java_com_velmora_tessul_TessulClient_nativeHidingStyleSheet(JNIEnv* env,
                                                            jobject self,
                                                            jstring pageUrl) {
  return guardedOr<jbyteArray>(nullptr, "hidingStyleSheet", [&] {
    return hidingBytes(env, self, pageUrl, tessul::hidingStyleSheet);
  });
}

JNIEXPORT jstring JNICALL
Java_com_velmora_tessul_TessulClient_version(JNIEnv* env, jclass /*type*/) {
  return env->NewStringUTF(tessul::version());
}

}  // extern "C"
