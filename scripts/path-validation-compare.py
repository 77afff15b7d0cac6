#!/usr/bin/env python3
"""Runs X.509 path-validation cases (C2SP x509-limbo format) through `oxlnet verify-cert` and through
`openssl verify -x509_strict -purpose sslserver -verify_hostname/-verify_ip`, and compares both with the
expected results.

    scripts/path-validation-compare.py CASES [--oxlnet PATH] [--openssl PATH] [--verbose]

CASES is a limbo.json file ({"testcases": [...]}), a JSON list of cases, or a directory searched for such
files. Only server cases ("validation_kind": "SERVER") with an expected peer name are run. Prints how many
cases each verifier decides as expected, and every case the library accepts while OpenSSL rejects it. Exits
1 when there is such a case, 2 on bad input, 0 otherwise.
"""

import argparse
import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile


def load_cases(path):
    files = []
    if os.path.isdir(path):
        for root, _, names in os.walk(path):
            files += [os.path.join(root, n) for n in sorted(names) if n.endswith(".json")]
    else:
        files = [path]
    cases = []
    for name in files:
        with open(name, encoding="utf-8") as f:
            data = json.load(f)
        if isinstance(data, dict) and "testcases" in data:
            data = data["testcases"]
        if isinstance(data, dict):
            data = [data]
        cases += data
    return cases


def epoch(validation_time):
    if not validation_time:
        return None
    moment = datetime.datetime.fromisoformat(validation_time.replace("Z", "+00:00"))
    if moment.tzinfo is None:
        moment = moment.replace(tzinfo=datetime.timezone.utc)
    return int(moment.timestamp())


def write(directory, name, texts):
    path = os.path.join(directory, name)
    with open(path, "w", encoding="ascii") as f:
        f.write("".join(texts))
    return path


def run(command):
    result = subprocess.run(command, capture_output=True, text=True, check=False)
    return result.returncode, (result.stdout + result.stderr).strip()


def verify_with_library(oxlnet, files, case):
    name = case["expected_peer_name"]["value"]
    command = [oxlnet, "verify-cert", files["chain"], "--host", name, "--trust", files["trust"]]
    if case.get("validation_time"):
        command += ["--at", str(epoch(case["validation_time"]))]
    if case.get("max_chain_depth") is not None:
        command += ["--max-depth", str(case["max_chain_depth"])]
    for crl in files["crls"]:
        command += ["--crl", crl]
    status, output = run(command)
    return status == 0, status, output


def verify_with_openssl(openssl, files, case):
    peer = case["expected_peer_name"]
    command = [openssl, "verify", "-x509_strict", "-purpose", "sslserver", "-no-CApath", "-no-CAstore",
               "-CAfile", files["trust"]]
    if files["untrusted"]:
        command += ["-untrusted", files["untrusted"]]
    command += ["-verify_ip" if peer["kind"] == "IP" else "-verify_hostname", peer["value"]]
    if case.get("validation_time"):
        command += ["-attime", str(epoch(case["validation_time"]))]
    if case.get("max_chain_depth") is not None:
        command += ["-verify_depth", str(case["max_chain_depth"])]
    if files["crls"]:
        command += ["-crl_check"]
        for crl in files["crls"]:
            command += ["-CRLfile", crl]
    command.append(files["peer"])
    status, output = run(command)
    return status == 0, status, output


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("cases")
    parser.add_argument("--oxlnet", default=os.environ.get("OXLNET", "build/oxlnet"))
    parser.add_argument("--openssl", default=shutil.which("openssl") or "openssl")
    parser.add_argument("--verbose", action="store_true", help="also list every disagreement with the expectation")
    args = parser.parse_args()
    if not os.path.exists(args.cases) or not os.access(args.oxlnet, os.X_OK):
        print(f"path-validation-compare: need a case file or directory and the oxlnet tool ({args.oxlnet})",
              file=sys.stderr)
        return 2

    run_count = skipped = library_agrees = openssl_agrees = 0
    library_only = []
    disagreements = []
    for case in load_cases(args.cases):
        if case.get("validation_kind") != "SERVER" or not case.get("expected_peer_name"):
            skipped += 1
            continue
        expected = case["expected_result"] == "SUCCESS"
        with tempfile.TemporaryDirectory(prefix="oxl-limbo-") as directory:
            files = {
                "trust": write(directory, "trust.pem", case["trusted_certs"]),
                "peer": write(directory, "peer.pem", [case["peer_certificate"]]),
                "chain": write(directory, "chain.pem", [case["peer_certificate"]] + case["untrusted_intermediates"]),
                "untrusted": write(directory, "untrusted.pem", case["untrusted_intermediates"])
                if case["untrusted_intermediates"] else None,
                "crls": [write(directory, f"crl{i}.pem", [crl]) for i, crl in enumerate(case.get("crls") or [])],
            }
            library, library_status, library_output = verify_with_library(args.oxlnet, files, case)
            ossl, _, ossl_output = verify_with_openssl(args.openssl, files, case)
        run_count += 1
        library_agrees += library == expected
        openssl_agrees += ossl == expected
        if library and not ossl:
            library_only.append((case["id"], ossl_output.splitlines()[-2:] if ossl_output else []))
        if library != expected or ossl != expected:
            disagreements.append((case["id"], case["expected_result"], library, library_status, ossl,
                                  library_output.splitlines()[-1:] if library_output else []))

    print(f"cases run: {run_count} (skipped: {skipped})")
    print(f"oxlnet verify-cert agrees with the expected result: {library_agrees}/{run_count}")
    print(f"openssl verify agrees with the expected result:     {openssl_agrees}/{run_count}")
    print(f"accepted by oxlnet but rejected by openssl: {len(library_only)}")
    for case_id, reason in library_only:
        print(f"  {case_id}: openssl says {' / '.join(reason)}")
    if args.verbose:
        print("disagreements with the expected result (id, expected, oxlnet accepts, exit, openssl accepts):")
        for case_id, expected, library, status, ossl, output in disagreements:
            print(f"  {case_id}: expected {expected}, oxlnet {library} ({status}), openssl {ossl} {output}")
    return 1 if library_only else 0


if __name__ == "__main__":
    sys.exit(main())
