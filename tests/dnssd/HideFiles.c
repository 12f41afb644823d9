/* Runs a program with files taken away from it: in a mount namespace of its own, /dev/null is
   bound over each file, so that opening one reads nothing. The DNS-SD tests hide libraries
   from the stand-in host this way. Needs root; the namespace dies with the program.

     hide_files [FILE...] -- PROGRAM [ARGUMENT...]                                        */
#define _GNU_SOURCE
#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <unistd.h>

int main(int argc, char** argv)
{
  int program = 1;
  while (program < argc && strcmp(argv[program], "--") != 0) ++program;
  if (++program >= argc) {
    fprintf(stderr, "usage: hide_files [FILE...] -- PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  /* Private, so that none of the mounts below reaches the namespace we came from. */
  if (unshare(CLONE_NEWNS) != 0 || mount(NULL, "/", NULL, MS_REC | MS_PRIVATE, NULL) != 0) {
    fprintf(stderr, "hide_files: no mount namespace of our own: %s\n", strerror(errno));
    return 125;
  }
  for (int i = 1; i < program - 1; ++i) {
    if (mount("/dev/null", argv[i], NULL, MS_BIND, NULL) != 0) {
      fprintf(stderr, "hide_files: cannot hide %s: %s\n", argv[i], strerror(errno));
      return 125;
    }
  }
  execv(argv[program], argv + program);
  fprintf(stderr, "hide_files: cannot run %s: %s\n", argv[program], strerror(errno));
  return 127;
}
