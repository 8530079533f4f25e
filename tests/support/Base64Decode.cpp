#include "Base64Decode.h"

std::string DecodeBase64(const std::string& text) {
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned int acc = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') break;
        const size_t v = kAlphabet.find(c);
        if (v == std::string::npos) return std::string();
        acc = (acc << 6) | static_cast<unsigned int>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}
