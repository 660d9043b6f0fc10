#include "platform/flutter/standard_codec.h"

#include "platform/utf8.h"

#include <bit>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

namespace lumivane::platform {

// Numbers cross in the sender's byte order, which for every target is
// little-endian; copying them raw is then exact.
static_assert(std::endian::native == std::endian::little);

namespace {

enum Tag : std::uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // Legacy hex-string integers; never written, always rejected.
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

constexpr std::uint8_t kSize16 = 254;
constexpr std::uint8_t kSize32 = 255;

constexpr std::uint8_t kEnvelopeSuccess = 0;
constexpr std::uint8_t kEnvelopeError = 1;

// ---------------------------------------------------------------------------
// Writing

class Writer {
 public:
  explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}

  void byte(std::uint8_t b) { out_.push_back(b); }

  void bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
  }

  template <typename T>
  void scalar(T value) {
    bytes(&value, sizeof value);
  }

  // Alignment is relative to the start of the whole message, which is where
  // the reader counts from too.
  void align(std::size_t alignment) {
    std::size_t misalignment = out_.size() % alignment;
    if (misalignment != 0) {
      out_.resize(out_.size() + alignment - misalignment, 0);
    }
  }

  void size(std::uint32_t n) {
    if (n < kSize16) {
      byte(static_cast<std::uint8_t>(n));
    } else if (n <= std::numeric_limits<std::uint16_t>::max()) {
      byte(kSize16);
      scalar(static_cast<std::uint16_t>(n));
    } else {
      byte(kSize32);
      scalar(n);
    }
  }

  void value(const EncodableValue& value);

 private:
  static bool sizeFits(std::size_t n) { return n <= std::numeric_limits<std::uint32_t>::max(); }

  template <typename T>
  void typedList(Tag tag, const std::vector<T>& list) {
    if (!sizeFits(list.size())) {
      byte(kNull);
      return;
    }
    byte(tag);
    size(static_cast<std::uint32_t>(list.size()));
    // Padding follows the size even for an empty list; every reader skips it.
    if constexpr (sizeof(T) > 1) {
      align(sizeof(T));
    }
    bytes(list.data(), list.size() * sizeof(T));
  }

  void string(const std::string& text) {
    const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
    if (utf8ValidPrefix(s, text.size()) != text.size()) {
      string(repairUtf8(text));
      return;
    }
    if (!sizeFits(text.size())) {
      byte(kNull);
      return;
    }
    byte(kString);
    size(static_cast<std::uint32_t>(text.size()));
    bytes(text.data(), text.size());
  }

  std::vector<std::uint8_t>& out_;
};

void Writer::value(const EncodableValue& input) {
  std::visit(
      [this](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          byte(kNull);
        } else if constexpr (std::is_same_v<T, bool>) {
          byte(v ? kTrue : kFalse);
        } else if constexpr (std::is_same_v<T, std::int32_t>) {
          byte(kInt32);
          scalar(v);
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
          // Choose by magnitude, as the interface's own writer does.
          if (v >= std::numeric_limits<std::int32_t>::min() &&
              v <= std::numeric_limits<std::int32_t>::max()) {
            byte(kInt32);
            scalar(static_cast<std::int32_t>(v));
          } else {
            byte(kInt64);
            scalar(v);
          }
        } else if constexpr (std::is_same_v<T, double>) {
          byte(kFloat64);
          align(8);
          scalar(v);
        } else if constexpr (std::is_same_v<T, std::string>) {
          string(v);
        } else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>) {
          typedList(kUInt8List, v);
        } else if constexpr (std::is_same_v<T, std::vector<std::int32_t>>) {
          typedList(kInt32List, v);
        } else if constexpr (std::is_same_v<T, std::vector<std::int64_t>>) {
          typedList(kInt64List, v);
        } else if constexpr (std::is_same_v<T, std::vector<double>>) {
          typedList(kFloat64List, v);
        } else if constexpr (std::is_same_v<T, std::vector<float>>) {
          typedList(kFloat32List, v);
        } else if constexpr (std::is_same_v<T, EncodableList>) {
          if (!sizeFits(v.size())) {
            byte(kNull);
            return;
          }
          byte(kList);
          size(static_cast<std::uint32_t>(v.size()));
          for (const auto& element : v) {
            this->value(element);
          }
        } else {
          static_assert(std::is_same_v<T, EncodableMap>);
          if (!sizeFits(v.size())) {
            byte(kNull);
            return;
          }
          byte(kMap);
          size(static_cast<std::uint32_t>(v.size()));
          for (const auto& [key, element] : v) {
            this->value(key);
            this->value(element);
          }
        }
      },
      static_cast<const EncodableValue::super&>(input));
}

// ---------------------------------------------------------------------------
// Reading. Every function returns false on malformed input and leaves the
// reader somewhere undefined; callers give up on the first false.

class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}

  bool atEnd() const { return position_ == data_.size(); }
  std::size_t remaining() const { return data_.size() - position_; }

  bool byte(std::uint8_t& out) {
    if (atEnd()) {
      return false;
    }
    out = data_[position_++];
    return true;
  }

  bool bytes(std::size_t n, const std::uint8_t*& out) {
    if (n > remaining()) {
      return false;
    }
    out = data_.data() + position_;
    position_ += n;
    return true;
  }

  template <typename T>
  bool scalar(T& out) {
    const std::uint8_t* p = nullptr;
    if (!bytes(sizeof(T), p)) {
      return false;
    }
    std::memcpy(&out, p, sizeof(T));
    return true;
  }

  bool align(std::size_t alignment) {
    std::size_t misalignment = position_ % alignment;
    const std::uint8_t* ignored = nullptr;
    return misalignment == 0 || bytes(alignment - misalignment, ignored);
  }

  bool size(std::uint32_t& out) {
    std::uint8_t b = 0;
    if (!byte(b)) {
      return false;
    }
    if (b < kSize16) {
      out = b;
      return true;
    }
    if (b == kSize16) {
      std::uint16_t n = 0;
      if (!scalar(n)) {
        return false;
      }
      out = n;
      return true;
    }
    return scalar(out);
  }

  bool value(EncodableValue& out, int depth);

 private:
  template <typename T>
  bool typedList(EncodableValue& out) {
    std::uint32_t count = 0;
    if (!size(count)) {
      return false;
    }
    if constexpr (sizeof(T) > 1) {
      if (!align(sizeof(T))) {
        return false;
      }
    }
    // Compare by division: count * sizeof(T) could overflow on 32-bit hosts.
    const std::uint8_t* p = nullptr;
    if (count > remaining() / sizeof(T) || !bytes(count * sizeof(T), p)) {
      return false;
    }
    std::vector<T> list(count);
    if (count != 0) {
      std::memcpy(list.data(), p, count * sizeof(T));
    }
    out = std::move(list);
    return true;
  }

  bool string(EncodableValue& out) {
    std::uint32_t length = 0;
    const std::uint8_t* p = nullptr;
    if (!size(length) || !bytes(length, p) || utf8ValidPrefix(p, length) != length) {
      return false;
    }
    out = std::string(reinterpret_cast<const char*>(p), length);
    return true;
  }

  bool list(EncodableValue& out, int depth) {
    std::uint32_t count = 0;
    // Every element takes at least its tag byte. No reserve: nested lists
    // that each declare the whole remaining size must not each allocate it.
    if (!size(count) || count > remaining()) {
      return false;
    }
    EncodableList list;
    for (std::uint32_t i = 0; i < count; ++i) {
      if (!value(list.emplace_back(), depth + 1)) {
        return false;
      }
    }
    out = std::move(list);
    return true;
  }

  bool map(EncodableValue& out, int depth) {
    std::uint32_t count = 0;
    if (!size(count) || count > remaining() / 2) {
      return false;
    }
    EncodableMap map;
    for (std::uint32_t i = 0; i < count; ++i) {
      EncodableValue key;
      EncodableValue element;
      if (!value(key, depth + 1) || !value(element, depth + 1)) {
        return false;
      }
      // A repeated key keeps its last value, as the interface's maps do.
      // Senders that keep their maps sorted (this codec does) make the end
      // the right hint, so building the map costs no searching.
      map.insert_or_assign(map.end(), std::move(key), std::move(element));
    }
    out = std::move(map);
    return true;
  }

  std::span<const std::uint8_t> data_;
  std::size_t position_ = 0;
};

bool Reader::value(EncodableValue& out, int depth) {
  std::uint8_t tag = 0;
  if (!byte(tag)) {
    return false;
  }
  switch (tag) {
    case kNull:
      out = std::monostate();
      return true;
    case kTrue:
      out = true;
      return true;
    case kFalse:
      out = false;
      return true;
    case kInt32: {
      std::int32_t v = 0;
      if (!scalar(v)) {
        return false;
      }
      out = v;
      return true;
    }
    case kInt64: {
      std::int64_t v = 0;
      if (!scalar(v)) {
        return false;
      }
      out = v;
      return true;
    }
    case kFloat64: {
      double v = 0;
      if (!align(8) || !scalar(v)) {
        return false;
      }
      out = v;
      return true;
    }
    case kString:
      return string(out);
    case kUInt8List:
      return typedList<std::uint8_t>(out);
    case kInt32List:
      return typedList<std::int32_t>(out);
    case kInt64List:
      return typedList<std::int64_t>(out);
    case kFloat64List:
      return typedList<double>(out);
    case kFloat32List:
      return typedList<float>(out);
    case kList:
      return depth < StandardMethodCodec::kMaxNesting && list(out, depth);
    case kMap:
      return depth < StandardMethodCodec::kMaxNesting && map(out, depth);
    default:
      // kLargeInt, the unused tags and extension tags: we register no
      // extensions, and the legacy form is never sent by a current interface.
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------

const StandardMessageCodec& StandardMessageCodec::sharedInstance() {
  static const StandardMessageCodec instance;
  return instance;
}

std::vector<std::uint8_t> StandardMessageCodec::encodeMessage(const EncodableValue& value) const {
  std::vector<std::uint8_t> out;
  Writer(out).value(value);
  return out;
}

std::optional<EncodableValue> StandardMessageCodec::decodeMessage(
    std::span<const std::uint8_t> bytes) const {
  if (bytes.empty()) {
    return EncodableValue();
  }
  Reader reader(bytes);
  EncodableValue value;
  if (!reader.value(value, 0) || !reader.atEnd()) {
    return std::nullopt;
  }
  return value;
}

const StandardMethodCodec& StandardMethodCodec::sharedInstance() {
  static const StandardMethodCodec instance;
  return instance;
}

std::vector<std::uint8_t> StandardMethodCodec::encodeMethodCall(
    const FlutterMethodCall& call) const {
  std::vector<std::uint8_t> out;
  Writer writer(out);
  writer.value(EncodableValue(call.method()));
  writer.value(call.arguments());
  return out;
}

std::optional<FlutterMethodCall> StandardMethodCodec::decodeMethodCall(
    std::span<const std::uint8_t> bytes) const {
  Reader reader(bytes);
  EncodableValue method;
  if (!reader.value(method, 0) || !std::holds_alternative<std::string>(method)) {
    return std::nullopt;
  }
  EncodableValue arguments;
  if (!reader.atEnd() && (!reader.value(arguments, 0) || !reader.atEnd())) {
    return std::nullopt;
  }
  return FlutterMethodCall(std::move(std::get<std::string>(method)), std::move(arguments));
}

std::vector<std::uint8_t> StandardMethodCodec::encodeSuccessEnvelope(
    const EncodableValue& result) const {
  std::vector<std::uint8_t> out;
  Writer writer(out);
  writer.byte(kEnvelopeSuccess);
  writer.value(result);
  return out;
}

std::vector<std::uint8_t> StandardMethodCodec::encodeErrorEnvelope(
    const FlutterError& error) const {
  std::vector<std::uint8_t> out;
  Writer writer(out);
  writer.byte(kEnvelopeError);
  writer.value(EncodableValue(error.code()));
  writer.value(error.message() ? EncodableValue(*error.message()) : EncodableValue());
  writer.value(error.details());
  return out;
}

std::vector<std::uint8_t> StandardMethodCodec::encodeReply(const FlutterReply& reply) const {
  if (const auto* value = std::get_if<EncodableValue>(&reply)) {
    return encodeSuccessEnvelope(*value);
  }
  if (const auto* error = std::get_if<FlutterError>(&reply)) {
    return encodeErrorEnvelope(*error);
  }
  return {};
}

std::optional<FlutterReply> StandardMethodCodec::decodeEnvelope(
    std::span<const std::uint8_t> bytes) const {
  if (bytes.empty()) {
    return FlutterReply(FlutterMethodNotImplemented);
  }
  Reader reader(bytes);
  std::uint8_t flag = 0;
  reader.byte(flag);  // Cannot fail: the envelope is not empty.
  if (flag == kEnvelopeSuccess) {
    EncodableValue result;
    if (!reader.atEnd() && (!reader.value(result, 0) || !reader.atEnd())) {
      return std::nullopt;
    }
    return FlutterReply(std::move(result));
  }
  if (flag != kEnvelopeError) {
    return std::nullopt;
  }
  EncodableValue code;
  EncodableValue message;
  EncodableValue details;
  if (!reader.value(code, 0) || !reader.value(message, 0) || !reader.value(details, 0)) {
    return std::nullopt;
  }
  if (!reader.atEnd()) {
    EncodableValue stackTrace;
    if (!reader.value(stackTrace, 0) || !reader.atEnd() ||
        !(stackTrace.IsNull() || std::holds_alternative<std::string>(stackTrace))) {
      return std::nullopt;
    }
  }
  if (!std::holds_alternative<std::string>(code) ||
      !(message.IsNull() || std::holds_alternative<std::string>(message))) {
    return std::nullopt;
  }
  std::optional<std::string> text;
  if (!message.IsNull()) {
    text = std::move(std::get<std::string>(message));
  }
  return FlutterReply(
      FlutterError(std::move(std::get<std::string>(code)), std::move(text), std::move(details)));
}

}  // namespace lumivane::platform
