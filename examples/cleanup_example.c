/* Keeps the KEEP newest files matching PATTERN and deletes the others,
 * while a second process holds a lockf() lock on LOCKED (if given): that
 * file is spared, whatever its age.
 *
 *   cleanup_example PATTERN KEEP [LOCKED]
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zolk2sys.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s PATTERN KEEP [LOCKED]\n", argv[0]);
        return 2;
    }
    int locked[2], release[2];
    pid_t holder = -1;
    if (argc > 3) {
        if (pipe(locked) != 0 || pipe(release) != 0)
            return 1;
        holder = fork();
        if (holder == 0) {
            int fd = open(argv[3], O_RDWR);
            char c = fd >= 0 && lockf(fd, F_LOCK, 0) == 0 ? 'y' : 'n';
            (void)!write(locked[1], &c, 1);
            (void)!read(release[0], &c, 1); /* until the parent is done */
            _exit(0);
        }
        char c = 'n';
        if (holder < 0 || read(locked[0], &c, 1) != 1 || c != 'y') {
            fprintf(stderr, "could not lock %s\n", argv[3]);
            return 1;
        }
        printf("another process holds a lockf() lock on %s\n", argv[3]);
    }
    int rc = ZOLK2_FileCleanupByNum(argv[1], atoi(argv[2]));
    printf("ZOLK2_FileCleanupByNum(\"%s\", %s) = %d%s%s\n", argv[1], argv[2], rc,
           rc != 0 ? ": " : "", rc != 0 ? strerror(rc) : "");
    if (holder > 0) {
        (void)!write(release[1], "x", 1);
        waitpid(holder, NULL, 0);
    }
    return rc == 0 ? 0 : 1;
}
