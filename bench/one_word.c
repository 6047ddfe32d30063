/* The start-up yardstick: a small C program, linked as C programs are, that reads the word and
   writes one line. What pair_report costs for one short word beyond this is its own start-up. */
#include <unistd.h>

int main(void) {
    char word[4096];
    const ssize_t count = read(STDIN_FILENO, word, sizeof word);
    if (count > 1) {
        word[1] = '\n';
        if (write(STDOUT_FILENO, word, 2) != 2) {
            return 1;
        }
    }
    return 0;
}
