// The plain build that the benchmark measures pair_report against: standard streams at their
// default settings, int counters and one std::string copy per piece. Same output, byte for byte.
#include <iostream>
#include <string>

int main() {
    std::string token;
    std::cin >> token;
    int run_length = 0;
    int mismatch_count = 0;
    for (int position = 0; position + 1 < static_cast<int>(token.size()); ++position) {
        if (token[position] == token[position + 1]) {
            ++run_length;
            const std::string piece = token.substr(position - run_length + 1, run_length);
            std::cout << piece << '\n';
        } else if (++mismatch_count == 2) {
            mismatch_count = 0;
            run_length = 0;
        }
    }
}
