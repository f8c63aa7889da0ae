namespace corvalink::sim {}
