/* The floor for one round trip: connect to the socket, send one request
 * frame, read one frame and print its payload. No checks beyond what is
 * needed to be correct, no libraries. Used by bench/round_trip to compare
 * the whole-process time of `sorvane list --json` against. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

static int read_exact(int fd, void* buffer, size_t size) {
  char* at = buffer;
  while (size > 0) {
    ssize_t n = read(fd, at, size);
    if (n <= 0) return -1;
    at += n;
    size -= (size_t)n;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: minimal_client SOCKET REQUEST_JSON\n");
    return 2;
  }
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  strncpy(address.sun_path, argv[1], sizeof address.sun_path - 1);
  if (fd < 0 || connect(fd, (struct sockaddr*)&address, sizeof address) != 0) return 255;

  uint32_t length = (uint32_t)strlen(argv[2]);
  unsigned char header[5] = {'J', length >> 24, length >> 16, length >> 8, length};
  if (write(fd, header, 5) != 5 || write(fd, argv[2], length) != (ssize_t)length) return 255;

  if (read_exact(fd, header, 5) != 0) return 255;
  length =
      (uint32_t)header[1] << 24 | (uint32_t)header[2] << 16 | (uint32_t)header[3] << 8 | header[4];
  char* payload = malloc(length);
  if (payload == NULL || read_exact(fd, payload, length) != 0) return 255;
  fwrite(payload, 1, length, stdout);
  putchar('\n');
  free(payload);
  close(fd);
  return 0;
}
