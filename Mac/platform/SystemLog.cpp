#include "platform/SystemLog.h"

#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace {

const char* const kLevelNames[] = {"Emergency", "Alert", "Critical", "Error", "Warning", "Notice", "Info", "Debug"};

std::string NowText() {
  char text[64];
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local);
  return text;
}

// One write per line, so lines of several writers never interleave.
void WriteAll(int fd, const std::string& line) {
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

}  // namespace

aslclient asl_open(const char* ident, const char*, uint32_t opts) {
  auto* client = new __aslclient;
  client->ident = ident ? ident : program_invocation_short_name;
  client->copyToStderr = (opts & ASL_OPT_STDERR) != 0;
  openlog(ident, LOG_PID, LOG_USER);
  return client;
}

void asl_close(aslclient client) {
  if (!client) return;
  closelog();
  delete client;
}

int asl_set_filter(aslclient client, int filter) {
  if (!client) return 0;
  const int previous = client->filter;
  client->filter = filter;
  return previous;
}

int asl_add_log_file(aslclient client, int fd) {
  if (!client || fd < 0) return -1;
  if (std::find(client->files.begin(), client->files.end(), fd) == client->files.end()) client->files.push_back(fd);
  return 0;
}

int asl_remove_log_file(aslclient client, int fd) {
  if (!client) return -1;
  std::erase(client->files, fd);
  return 0;
}

aslmsg asl_new(int) { return new __aslmsg; }

int asl_set(aslmsg msg, const char* key, const char* value) {
  if (!msg || !key || std::string(key) != ASL_KEY_TIME) return -1;
  msg->time = value ? value : "";
  return 0;
}

void asl_free(aslmsg msg) { delete msg; }

int asl_log(aslclient client, aslmsg msg, int level, const char* format, ...) {
  if (level < ASL_LEVEL_EMERG || level > ASL_LEVEL_DEBUG || !format) return -1;
  if (client && !(client->filter & (1 << level))) return 0;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);

  syslog(level, "%s", text.c_str());
  if (!client) return 0;
  std::string line = (msg && !msg->time.empty()) ? msg->time : NowText();
  line += ' ' + client->ident + '[' + std::to_string(getpid()) + "] <" + kLevelNames[level] + ">: " + text + '\n';
  if (client->copyToStderr) WriteAll(STDERR_FILENO, line);
  for (int fd : client->files) WriteAll(fd, line);
  return 0;
}
