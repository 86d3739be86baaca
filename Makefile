# Convenience front end over CMake. `make run` builds and runs the main job
# on the bundled samples; `make test` builds and runs every test.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: all configure run test test-sanitize install clean

all: configure
	cmake --build $(BUILD) -j $(JOBS)

configure:
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)

run: all
	./scripts/run-samples $(BUILD)

test: all
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	$(MAKE) test BUILD=$(BUILD)-sanitize \
	  CMAKE_FLAGS="-DCMAKE_BUILD_TYPE=Debug -DCONTENTFILE_SANITIZE=ON -DCONTENTFILE_BUILD_BENCH=OFF"

install: all
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize
