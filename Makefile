# Builds with CMake + Ninja. `make demo` runs the tool on the bundled example; `make test` builds
# and runs every test, in a normal build and again with AddressSanitizer and UBSan.

BUILD      ?= build
ASAN_BUILD ?= build-asan
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= 2

.PHONY: all build build-asan demo test bench fuzz clean

all: build

build:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)
	cmake --build $(BUILD) -j $(JOBS)

build-asan:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DXMLPP_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

demo: build
	$(BUILD)/driver/xmlpp examples/board/board.xml $(BUILD)/demo-output.xml "BOARD=evb2;VARIANT=full"
	@cat $(BUILD)/demo-output.xml

test: build build-asan
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# Release build and the benchmark workloads (bench/run.sh), with xmllint for comparison.
bench:
	bench/run.sh

# libFuzzer targets built with clang, each run for FUZZ_SECONDS (default 60).
fuzz:
	fuzz/run.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) build-release build-fuzz
