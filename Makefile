# Entry points: make test, make test-sanitize, make test-tsan, make fuzz, make soak, make demo, make lab,
# make bench, make install.
BUILD        ?= build
SAN_BUILD    ?= build-sanitize
BENCH_BUILD  ?= build-bench
TSAN_BUILD   ?= build-tsan
FUZZ_BUILD   ?= build-fuzz
FUZZ_SECONDS ?= 60
PREFIX       ?= /usr/local
JOBS         ?= $(shell nproc)
CTEST_JOBS   ?= 2
CMAKE_FLAGS  ?=
LAB_FLAGS    ?=

.PHONY: all deps configure build test test-unit test-sanitize test-tsan fuzz soak demo lab bench install format \
        clean

all: build

deps:
	./scripts/install-deps.sh

configure: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(CTEST_JOBS) -LE soak

# Long-running checks for leaked descriptors and threads over many start-up and shut-down cycles.
soak: build
	ctest --test-dir $(BUILD) --output-on-failure -L soak

test-unit: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(CTEST_JOBS) -L unit

test-sanitize: deps
	cmake -S . -B $(SAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DOXL_SANITIZE=ON $(CMAKE_FLAGS)
	cmake --build $(SAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	    ctest --test-dir $(SAN_BUILD) --output-on-failure -j $(CTEST_JOBS) -E install_consumer -LE soak

# The suite under ThreadSanitizer; scripts/tsan.supp lists the reports that are left to third-party code.
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOXL_TSAN=ON $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/scripts/tsan.supp" \
	    ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(CTEST_JOBS) -E install_consumer -LE soak

# Every libFuzzer program for FUZZ_SECONDS each (clang; its own build directory). Any finding fails.
fuzz: deps
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
	    -DOXL_FUZZ=ON -DOXL_BUILD_TESTS=OFF $(CMAKE_FLAGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzz_all
	./scripts/run-fuzz.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

demo: build
	./$(BUILD)/oxlnet demo

# Network-change lab in network namespaces (root); LAB_FLAGS=--quick for a 30-second stay.
lab: configure
	cmake --build $(BUILD) -j $(JOBS) --target oxl_lab_client oxl_lab_servers
	python3 lab/run_lab.py --build $(BUILD) $(LAB_FLAGS)

bench: deps
	cmake -S . -B $(BENCH_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DOXL_BUILD_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target oxl_bench
	./scripts/run-bench.sh $(BENCH_BUILD) $(BUILD)/bench/results.json

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

format:
	find include src tools tests bench fuzz -name '*.h' -o -name '*.cpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(SAN_BUILD) $(BENCH_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
