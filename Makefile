# Convenience front end over CMake. `make run` builds and runs the main job
# on the bundled samples; `make test` builds and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all configure run test test-sanitize install clean format-check

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

# Only the library and cfdump, quietly: the build's output is shown when it
# fails.
run:
	@mkdir -p $(BUILD)
	@{ cmake -S . -B $(BUILD) $(CMAKE_FLAGS) && \
	   cmake --build $(BUILD) -j $(JOBS) --target cfdump; } \
	  > $(BUILD)/run-build.log 2>&1 || { cat $(BUILD)/run-build.log; exit 1; }
	@./scripts/run-samples $(BUILD)

test: all
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	$(MAKE) test BUILD=$(BUILD)-sanitize \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DCONTENTFILE_SANITIZE=ON -DCONTENTFILE_BUILD_BENCH=OFF"

install: all
	cmake --install $(BUILD)

# Every C and C++ file of the tree must be as clang-format (with the root
# .clang-format) writes it.
CLANG_FORMAT ?= clang-format
format-check:
	@files=$$(git ls-files '*.cc' '*.h' '*.c' 2>/dev/null || \
	  find . -path './build*' -prune -o \( -name '*.cc' -o -name '*.h' \
	  -o -name '*.c' \) -print); \
	$(CLANG_FORMAT) --dry-run -Werror $$files && \
	echo "format-check: $$(echo $$files | wc -w) files as clang-format writes them"

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize

# Hardening: the fuzz targets of fuzz/ (clang and libFuzzer), each run for
# FUZZ_SECONDS seconds; the concurrency tests under ThreadSanitizer; the
# whole test suite under Valgrind memcheck, but for the tests named in
# VALGRIND_SKIP, which time themselves against a wall clock. The test
# binary's own operator new stays in place (nouserintercepts), so that the
# failure matrix can make it fail under Valgrind too.
FUZZ_SECONDS ?= 60
VALGRIND_SKIP ?= FindCaseInsensitive.StaysLinearOnAdversarialInput:MultibyteSearch.StaysLinearOverManyRejectedMatchesInGbk
VALGRIND ?= valgrind --error-exitcode=1 --leak-check=full \
  --errors-for-leak-kinds=definite,indirect,possible \
  --show-leak-kinds=definite,indirect,possible \
  --soname-synonyms=somalloc=nouserintercepts

.PHONY: fuzz fuzz-replay test-tsan test-valgrind bench-python

fuzz:
	./scripts/fuzz -b $(BUILD)-fuzz -s $(FUZZ_SECONDS)

# Each fuzz target once over its seeds and saved regression inputs.
fuzz-replay:
	./scripts/fuzz -b $(BUILD)-fuzz -r

test-tsan:
	cmake -S . -B $(BUILD)-tsan -DCMAKE_BUILD_TYPE=Debug -DCONTENTFILE_TSAN=ON \
	  -DCONTENTFILE_BUILD_BENCH=OFF -DCONTENTFILE_BUILD_TOOLS=OFF
	cmake --build $(BUILD)-tsan -j $(JOBS) --target contentfile_tests
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  $(BUILD)-tsan/tests/contentfile_tests --gtest_filter='ConcurrencyTest.*'

test-valgrind: all
	$(VALGRIND) $(BUILD)/tests/contentfile_tests --gtest_filter='-$(VALGRIND_SKIP)'

# The Python package against cfdump, Dask on 2 workers against 1, and
# Python's email package, on 20,000 generated mail captures (minutes; not
# run by CI). BENCH_ARGS passes options, e.g. BENCH_ARGS="--runs 5".
PYTHON ?= /usr/bin/python3
bench-python: all
	PYTHONPATH=$(BUILD)/python $(PYTHON) bench/python_bench.py \
	  --cfdump $(BUILD)/tools/cfdump/cfdump $(BENCH_ARGS)
