// The part calls on a 64 MB message (a quoted-printable text of 256 KB and
// base64 attachments of 15.5, 15 and 14.5 MB), side by side in one run:
//
//  - listing the parts (GetParts) beside the open that precedes it;
//  - the decoded sizes of every part beside one decoding pass over every
//    part that keeps nothing (StreamPart into a sink that drops the bytes);
//  - saving every part through a descriptor beside saving it to a path.
//
// Rounds are interleaved (each round runs every measurement once, in an
// order that rotates from round to round), and the medians, minima and
// maxima of the rounds are printed with their ratios.
//
//   part_access_timing [ROUNDS] [CAPTURE]
//
// Without CAPTURE the message is built in a temporary folder.

#include <contentfile.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Base64Lines(const std::string& bytes) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve(bytes.size() / 57 * 78 + 80);
  for (size_t at = 0; at < bytes.size(); at += 57) {
    const size_t line = std::min<size_t>(57, bytes.size() - at);
    for (size_t i = 0; i < line; i += 3) {
      const auto* p = reinterpret_cast<const unsigned char*>(&bytes[at + i]);
      const size_t n = std::min<size_t>(3, line - i);
      const uint32_t v = (uint32_t{p[0]} << 16) |
                         (n > 1 ? uint32_t{p[1]} << 8 : 0) |
                         (n > 2 ? uint32_t{p[2]} : 0);
      out += kAlphabet[(v >> 18) & 63];
      out += kAlphabet[(v >> 12) & 63];
      out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
      out += n > 2 ? kAlphabet[v & 63] : '=';
    }
    out += "\r\n";
  }
  return out;
}

std::string BigCapture() {
  std::mt19937_64 random(20240917);
  std::string message =
      "From: Ann <ann@example.org>\r\nTo: <bob@example.org>\r\n"
      "Subject: Quarterly data export\r\n"
      "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n"
      "--=_b\r\nContent-Type: text/plain; charset=utf-8\r\n"
      "Content-Transfer-Encoding: quoted-printable\r\n\r\n";
  while (message.size() < (size_t{256} << 10)) {
    message +=
        "Caf=C3=A9 figures for the quarter, see the export files=\r\n"
        " attached to this message.\r\n";
  }
  const size_t sizes[] = {(size_t{31} << 20) / 2, size_t{15} << 20,
                          (size_t{29} << 20) / 2};
  int n = 0;
  for (const size_t size : sizes) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i + 8 <= size; i += 8) {
      const uint64_t v = random();
      std::memcpy(&bytes[i], &v, 8);
    }
    message +=
        "\r\n--=_b\r\nContent-Type: application/octet-stream\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=\"export-" +
        std::to_string(++n) + ".dat\"\r\n\r\n";
    message += Base64Lines(bytes);
  }
  message += "\r\n--=_b--\r\n";
  return "14\r\nSMTP\r\nx\r\na;b\r\n10.0.0.1\r\n1025\r\n10.0.0.2\r\n25\r\n"
         "l9\r\nl10\r\nl11\r\nl12\r\nl13\r\nl14\r\n" +
         message;
}

double Seconds(const std::function<void()>& work) {
  const auto begin = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin)
      .count();
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "failed: %s\n", what);
    std::exit(1);
  }
}

struct Stats {
  double median, low, high;
};

Stats Summarise(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return Stats{values[values.size() / 2], values.front(), values.back()};
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char folder[] = "/tmp/part_access_timing.XXXXXX";
  Check(mkdtemp(folder) != nullptr, "mkdtemp");
  const std::string dir = folder;
  std::string capture = argc > 2 ? argv[2] : dir + "/big.cf";
  if (argc <= 2) {
    const std::string bytes = BigCapture();
    FILE* f = std::fopen(capture.c_str(), "wb");
    Check(f != nullptr &&
              std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() &&
              std::fclose(f) == 0,
          "writing the capture");
  }
  const std::string target = dir + "/out";

  CMailContentFile mail;
  Check(mail.OpenContentFile(capture.c_str()) == 0, "open");
  std::vector<contentfile::PartInfo> parts;
  Check(mail.GetParts(parts) == 0, "GetParts");

  struct Measure {
    const char* name;
    std::function<void()> work;
    std::vector<double> seconds;
  };
  std::vector<Measure> measures = {
      {"open",
       [&] {
         CMailContentFile fresh;
         Check(fresh.OpenContentFile(capture.c_str()) == 0, "open");
       },
       {}},
      {"list parts",
       [&] {
         std::vector<contentfile::PartInfo> listed;
         Check(mail.GetParts(listed) == 0, "GetParts");
       },
       {}},
      {"decoded sizes",
       [&] {
         for (size_t i = 0; i < parts.size(); ++i) {
           uint64_t size = 0;
           Check(mail.GetPartDecodedSize(i, size) == 0, "size");
         }
       },
       {}},
      {"decode, keep nothing",
       [&] {
         uint64_t total = 0;
         for (size_t i = 0; i < parts.size(); ++i) {
           Check(mail.StreamPart(i,
                                 [&](const char*, size_t size) {
                                   total += size;
                                   return true;
                                 }) == 0,
                 "stream");
         }
       },
       {}},
      {"save to path",
       [&] {
         for (size_t i = 0; i < parts.size(); ++i) {
           Check(mail.SavePart2File(i, target.c_str()) == 0, "path");
         }
       },
       {}},
      {"save to descriptor",
       [&] {
         for (size_t i = 0; i < parts.size(); ++i) {
           const int fd =
               open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
           Check(fd >= 0 && mail.SavePart2Fd(i, fd) == 0 && close(fd) == 0,
                 "descriptor");
         }
       },
       {}},
  };
  for (int round = 0; round < rounds; ++round) {
    for (size_t k = 0; k < measures.size(); ++k) {
      Measure& m = measures[(k + static_cast<size_t>(round)) % measures.size()];
      m.seconds.push_back(Seconds(m.work));
    }
  }

  std::printf("%zu parts, %d interleaved rounds; seconds:\n", parts.size(),
              rounds);
  std::printf("%-22s %10s %10s %10s\n", "", "median", "min", "max");
  std::vector<Stats> stats;
  for (const Measure& m : measures) {
    stats.push_back(Summarise(m.seconds));
    std::printf("%-22s %10.5f %10.5f %10.5f\n", m.name, stats.back().median,
                stats.back().low, stats.back().high);
  }
  // Ratios of medians, and the spread of the same ratio taken round by
  // round.
  auto ratio = [&](size_t a, size_t b) {
    std::vector<double> per_round;
    for (int r = 0; r < rounds; ++r) {
      per_round.push_back(measures[a].seconds[static_cast<size_t>(r)] /
                          measures[b].seconds[static_cast<size_t>(r)]);
    }
    const Stats s = Summarise(per_round);
    std::printf(
        "%-44s %7.4f (rounds %.4f to %.4f)\n",
        (std::string(measures[a].name) + " / " + measures[b].name).c_str(),
        stats[a].median / stats[b].median, s.low, s.high);
  };
  ratio(1, 0);
  ratio(2, 3);
  ratio(5, 4);

  unlink(target.c_str());
  if (argc <= 2) unlink(capture.c_str());
  rmdir(folder);
  return 0;
}
